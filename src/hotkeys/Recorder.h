#pragma once

#include "hotkeys/RecorderField.h"

#include <QWidget>

class QLabel;

namespace Hotkeys {

// Places a RecorderField for one name in a form row, with a label before it or alone.
class Recorder : public QWidget {
    Q_OBJECT

public:
    // The field alone, without a label.
    explicit Recorder(const Name &name, RecorderField::OnChange onChange = {}, QWidget *parent = nullptr);
    // The field after a label showing `title` as it is.
    Recorder(const QString &title, const Name &name, RecorderField::OnChange onChange = {},
        QWidget *parent = nullptr);
    // The field after the given label widget (taken over).
    Recorder(
        QWidget *label, const Name &name, RecorderField::OnChange onChange = {}, QWidget *parent = nullptr);

    bool hasLabel() const { return m_label != nullptr; }
    QWidget *label() const { return m_label; }
    RecorderField *field() const { return m_field; }

    Name name() const { return m_field->shortcutName(); }
    // Points the field at another name; a later change of the callback never reaches the field.
    void setName(const Name &name) { m_field->setShortcutName(name); }

private:
    void build(QWidget *label, const Name &name, RecorderField::OnChange onChange);

    QWidget *m_label = nullptr;
    RecorderField *m_field = nullptr;
};

} // namespace Hotkeys
