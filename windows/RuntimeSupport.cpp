// What the compiler expects from a C++ runtime, for an image that has none.
// Objects are built in place or through their classes' own operator new and
// delete, so no global allocation operator is needed here.

// Called through a vtable slot whose function is pure virtual: a driver bug
// with no way to go on. The trap stops the system where the fault happened.
extern "C" void __cxa_pure_virtual()
{
    __builtin_trap();
}
