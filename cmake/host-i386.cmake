# Host build: 32-bit x86 Linux, so that the platform records have their
# published 32-bit layouts and the calling conventions are the target's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Some x86-64 kernels (ours among them) run no 32-bit programs. There the
# tests and tools run under qemu-i386 with the host's 32-bit libraries.
execute_process(COMMAND /lib/ld-linux.so.2 --version
                RESULT_VARIABLE TVTUNER_NATIVE_I386 OUTPUT_QUIET ERROR_QUIET)
if(NOT TVTUNER_NATIVE_I386 EQUAL 0)
    find_program(TVTUNER_QEMU_I386 qemu-i386 REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${TVTUNER_QEMU_I386};-L;/")
endif()
