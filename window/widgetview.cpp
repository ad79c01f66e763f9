// SPDX-License-Identifier: MIT
#include "widget.h"

#include "orvex.h"

// The Widget members that need the Orvex class itself. Orvex's layout depends
// on the program's overlay, so unlike the rest of Widget this file is compiled
// once per program.

void Widget::createView()
{
    view = new Orvex(this);
}

void Widget::showInView(const char *data, int length)
{
    view->showFrame(data, length);
}
