#include "VorelWidget.h"

VorelWidget::VorelWidget(QWidget *parent)
    : QWidget(parent)
{
    clear();
    messageLabel.setFont(QFont(QStringLiteral("Verdana"), 10));
    QFont typeFont(QStringLiteral("Verdana"), 8);
    typeFont.setBold(true);
    typeLabel.setFont(typeFont);
    typeLabel.setAlignment(Qt::AlignHCenter);
    layout.setContentsMargins(1, 2, 1, 2);
    layout.addWidget(&typeLabel);
    layout.addWidget(&progressBar);
    layout.addWidget(&messageLabel);
    setLayout(&layout);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void VorelWidget::clear()
{
    progressBar.reset();
    progressBar.setRange(0, 100);
    messageLabel.clear();
}

void VorelWidget::setMessage(const QString &text)
{
    // Terminals may send markup on purpose; it is shown as they sent it.
    messageLabel.setText(text);
}

void VorelWidget::setIndicator(int value)
{
    progressBar.setValue(value);
}

void VorelWidget::setType(const QString &text)
{
    // The name carries what the peer reports about itself (a device name): shown as plain text.
    typeLabel.setText(QLatin1String("<font color = red>") + text.toHtmlEscaped() + QLatin1String("</font>"));
}
