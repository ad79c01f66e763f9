// SPDX-License-Identifier: MIT
#ifndef HIGHDPI_H
#define HIGHDPI_H

// Lets the window follow the desktop's display scaling: at a scale of 1.5 it
// is 1.5 times as large on the screen, with every size in the code unchanged.
// Must run before the application object exists; QT_SCALE_FACTOR and
// QT_ENABLE_HIGHDPI_SCALING=0 still override it.
void enableHighDpiScaling();

#endif // HIGHDPI_H
