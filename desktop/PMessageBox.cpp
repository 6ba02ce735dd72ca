#include "PMessageBox.h"

namespace {

PMessageBox::Handler &handler()
{
    static PMessageBox::Handler current;
    return current;
}

} // namespace

PMessageBox::Handler PMessageBox::setHandler(Handler replacement)
{
    Handler previous = std::move(handler());
    handler() = std::move(replacement);
    return previous;
}

QMessageBox::StandardButton PMessageBox::show(const Box &box)
{
    if (handler())
        return handler()(box);
    switch (box.kind) {
    case Kind::Critical:
        return QMessageBox::critical(box.parent, box.title, box.text, box.buttons);
    case Kind::Question:
        return QMessageBox::question(box.parent, box.title, box.text, box.buttons, QMessageBox::NoButton);
    case Kind::Information:
        return QMessageBox::information(box.parent, box.title, box.text, box.buttons);
    }
    return QMessageBox::NoButton;
}

void PMessageBox::critical(QWidget *parent, const QString &title, const QString &text)
{
    show({Kind::Critical, parent, title, text, QMessageBox::Ok});
}

bool PMessageBox::question(QWidget *parent, const QString &title, const QString &text)
{
    return show({Kind::Question, parent, title, text, QMessageBox::Yes | QMessageBox::No}) == QMessageBox::Yes;
}

void PMessageBox::information(QWidget *parent, const QString &title, const QString &text)
{
    show({Kind::Information, parent, title, text, QMessageBox::Ok});
}
