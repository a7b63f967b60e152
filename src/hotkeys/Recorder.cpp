#include "hotkeys/Recorder.h"

#include <QHBoxLayout>
#include <QLabel>

namespace Hotkeys {

Recorder::Recorder(const Name &name, RecorderField::OnChange onChange, QWidget *parent)
    : QWidget(parent)
{
    build(nullptr, name, std::move(onChange));
}

Recorder::Recorder(const QString &title, const Name &name, RecorderField::OnChange onChange, QWidget *parent)
    : QWidget(parent)
{
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(title);
    build(label, name, std::move(onChange));
}

Recorder::Recorder(QWidget *label, const Name &name, RecorderField::OnChange onChange, QWidget *parent)
    : QWidget(parent)
{
    build(label, name, std::move(onChange));
}

void Recorder::build(QWidget *label, const Name &name, RecorderField::OnChange onChange)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label = label;
    // The field is made before it is placed, so it enters the window only once: then it is
    // barred from taking the focus for one turn, like on every activation of its window.
    m_field = new RecorderField(name, std::move(onChange));
    if (m_label) {
        m_label->setParent(this);
        if (auto *text = qobject_cast<QLabel *>(m_label))
            text->setBuddy(m_field);
        layout->addWidget(m_label, 1, Qt::AlignVCenter);
    }
    layout->addWidget(m_field, 0, Qt::AlignVCenter | (m_label ? Qt::AlignRight : Qt::AlignLeft));
}

} // namespace Hotkeys
