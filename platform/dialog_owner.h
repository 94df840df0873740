#pragma once

class QWidget;

// The window the shell's own dialogs belong to: the modal viewer when it runs. A dialog that
// belongs to no window would be blocked by the modal viewer, unable to take a click, an Esc or
// a close until the viewer ended; one that belongs to it stays above it and usable.
QWidget* dialogOwner();
