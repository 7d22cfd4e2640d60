# Hardened code wherever the compiler and linker take the flags, for every
# target: a stack protector; _FORTIFY_SOURCE in optimized builds (it needs
# the optimizer, and a toolchain's own default level is replaced, not
# redefined); position-independent executables, full RELRO and immediate
# binding on Linux; on Windows address-space layout randomization, with
# high entropy, and no-execute data, which recent MinGW linkers set by
# themselves and older ones only when asked.
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)
include(CheckPIESupported)

# MinGW's C runtime has no __stack_chk_* or __*_chk functions: GCC's libssp
# has them, linked (statically, as everything) when the flag is also given
# to the link; so the check compiles and links.
set(CMAKE_REQUIRED_FLAGS -fstack-protector-strong)
set(CMAKE_REQUIRED_LINK_OPTIONS -fstack-protector-strong)
check_cxx_source_compiles("#include <cstring>
  int main(int argc, char** argv) { char b[64]; std::strcpy(b, argv[argc - 1]); return b[1]; }"
  WENDRAKE_STACK_PROTECTOR)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(WENDRAKE_STACK_PROTECTOR)
  add_compile_options(-fstack-protector-strong)
  add_link_options(-fstack-protector-strong)
  set(optimized $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  add_compile_options($<${optimized}:-U_FORTIFY_SOURCE> $<${optimized}:-D_FORTIFY_SOURCE=2>)
endif()

if(WIN32)
  set(hardened_link -Wl,--dynamicbase,--nxcompat,--high-entropy-va)
else()
  set(hardened_link -Wl,-z,relro,-z,now)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
check_linker_flag(CXX "${hardened_link}" WENDRAKE_HARDENED_LINK)
if(WENDRAKE_HARDENED_LINK)
  add_link_options(${hardened_link})
endif()
