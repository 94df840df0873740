#pragma once

#include "catalogue/picture_list.h"

// The four commands that hand work to the desktop shell. Each builds one request and passes it
// once; none waits, looks at the outcome, changes the list or redraws.

// Asks the shell's chooser which program should open the current picture. Does nothing when
// the list has no current picture.
void openWith(const PictureListState& list);

// Shows the shell's properties of the current picture; every call is a new request. Does
// nothing when the list has no current picture.
void showProperties(const PictureListState& list);

// Prints the current picture through the shell. Does nothing when the list has no current
// picture.
void printPicture(const PictureListState& list);

// Opens the product web site in the default browser. The list is not looked at, so this works
// with an empty list too; the parameter keeps the four commands interchangeable.
void openWebSite(const PictureListState& list);
