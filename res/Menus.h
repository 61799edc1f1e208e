#pragma once

#include <vector>

// Menu resources: a drop-down menu holds items; an item with id 0 and no text is a separator.
struct MenuItem {
    int id;
    const char* text;            // UTF-8; a tab separates the accelerator's name, '&' marks the mnemonic
    std::vector<MenuItem> items; // a drop-down menu when not empty
};

// Menu 128 (Chinese) or 147 (English); null for any other id.
const std::vector<MenuItem>* FindMenuResource(int id);

// Toolbars 128 (Chinese) and 150 (English): the button ids in order, 0 for a separator, and the
// size of one picture in the bitmap strip of the same id.
struct ToolbarResource {
    int id;
    int width, height;
    std::vector<int> items;
};
const ToolbarResource* FindToolbarResource(int id);

// Accelerator table 128: virtual-key accelerators without modifiers.
struct Accelerator {
    int key; // Qt::Key
    int command;
};
const std::vector<Accelerator>& AcceleratorTable();
