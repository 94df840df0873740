#pragma once

class QWidget;

// Asks whether the current picture may be deleted for good; Yes is the default answer.
bool confirmDeletion(QWidget* parent);
