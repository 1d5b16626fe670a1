# Cross build of the kernel driver image tvtuner.sys for 32-bit x86 Windows
# with Debian's MinGW-w64 toolchain (g++-mingw-w64-i686, binutils-mingw-w64-i686).
# Everything compiled in this build runs in the kernel, so the flags here are
# the kernel's: freestanding, no C or C++ runtime, no toolchain headers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TVTUNER_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER ${TVTUNER_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER ${TVTUNER_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER ${TVTUNER_MINGW_PREFIX}-windres)
find_program(TVTUNER_DLLTOOL ${TVTUNER_MINGW_PREFIX}-dlltool REQUIRED)
find_program(TVTUNER_OBJDUMP ${TVTUNER_MINGW_PREFIX}-objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Compiler checks must not try to link a user-mode program: there is no C
# runtime to link it with.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Only the compiler's own freestanding headers (stddef.h, stdint.h) may come
# in; the toolchain's C runtime, Windows and driver-kit headers are kept out
# of reach. windows/freestanding ends GCC's #include_next chain.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
                OUTPUT_VARIABLE TVTUNER_GCC_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE)

set(TVTUNER_KERNEL_TARGET_FLAGS
    "-ffreestanding -nostdinc -isystem ${TVTUNER_GCC_INCLUDE}"
    "-isystem ${CMAKE_CURRENT_LIST_DIR}/../windows/freestanding"
    # The kernel saves no FPU/SSE state for us.
    "-mgeneral-regs-only"
    "-fno-exceptions -fno-rtti -fno-threadsafe-statics"
    "-fno-asynchronous-unwind-tables -fno-unwind-tables"
    "-fno-stack-protector -fno-ident"
    # Kernel stacks are 12 KB; a frame that needs the stack-probe helper
    # (4 KB and more) does not belong in this driver.
    "-Wframe-larger-than=2048")
string(JOIN " " TVTUNER_KERNEL_TARGET_FLAGS ${TVTUNER_KERNEL_TARGET_FLAGS})
set(CMAKE_C_FLAGS_INIT "${TVTUNER_KERNEL_TARGET_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TVTUNER_KERNEL_TARGET_FLAGS}")
# Conservative optimisation for kernel code.
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
