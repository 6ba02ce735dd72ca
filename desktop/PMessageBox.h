#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every message box of the desktop program goes through here: failures are critical boxes with
// one Ok button, confirmations question boxes with Yes and No and no default button. Tests
// install a handler that answers instead of a person.
class PMessageBox
{
public:
    enum class Kind { Critical, Question, Information };
    struct Box
    {
        Kind kind;
        QWidget *parent;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };
    using Handler = std::function<QMessageBox::StandardButton(const Box &)>;

    // An empty handler brings the real boxes back; returns the handler that was in place.
    static Handler setHandler(Handler handler);

    static void critical(QWidget *parent, const QString &title, const QString &text);
    // True only when the answer is Yes.
    static bool question(QWidget *parent, const QString &title, const QString &text);
    static void information(QWidget *parent, const QString &title, const QString &text);

private:
    static QMessageBox::StandardButton show(const Box &box);
};
