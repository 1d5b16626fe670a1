/* Intentionally empty. For this target GCC's own stddef.h first includes the
   next stddef.h on the path, which would be the user-mode C runtime's; the
   kernel build ends the search here and GCC's header defines the rest. */
