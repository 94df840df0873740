#pragma once

#include <QProxyStyle>

// The desktop's style, with dialog buttons that carry no theme icons: a green arrow on OK and
// a red cross on Cancel look foreign on most desktops.
class PlainDialogStyle : public QProxyStyle {
  public:
    // Takes ownership of base (the style to follow; the default style when nullptr).
    explicit PlainDialogStyle(QStyle* base = nullptr) : QProxyStyle(base) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};
