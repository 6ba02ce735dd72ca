#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>

// One session row of the main window: the link type in red, the progress and the last message.
// Its session's signals reach the slots queued, on the main thread.
class VorelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit VorelWidget(QWidget *parent);

    QString typeText() const { return typeLabel.text(); }
    QString messageText() const { return messageLabel.text(); }
    int indicator() const { return progressBar.value(); }

public slots:
    void setMessage(const QString &text);
    void setIndicator(int value);
    void setType(const QString &text);

private:
    void clear();

    QLabel typeLabel;
    QProgressBar progressBar;
    QLabel messageLabel;
    QVBoxLayout layout;
};
