#pragma once

#include <QDialog>

// The About box: the icon, the version line, a second line and OK.
class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDialog(QWidget* parent);
};
