#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <functional>

// Widgets the template builder makes where Qt's own do not behave as dialog controls do.

// A single-line field that reports losing the focus only after its own focus-out handling, so
// a selection that the report's handler makes (a rejected field selects its text) survives.
class FieldEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void()> onFocusLost;

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

// A group box drawn as dialogs draw one: an etched frame whose top edge runs through the middle
// of the caption, the caption on the dialog's background at the left or centred.
class FrameGroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* event) override;
};
