// Marks the few symbols that other objects may see; everything else is built hidden.
#ifndef OMBREX_LIBOMBREX_EXPORT_H
#define OMBREX_LIBOMBREX_EXPORT_H

#define OMBREX_EXPORT __attribute__((visibility("default")))

#endif
