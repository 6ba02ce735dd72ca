#include "AboutDialog.h"
#include "ProgramInfo.h"

#include <QDesktopServices>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// Receives the web links the program opens, in place of a browser.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

TEST(AboutBox, ShowsNameVersionMakerAndBuild)
{
    AboutDialog about(nullptr);
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About..."));
    EXPECT_EQ(about.ui.label->text(), QStringLiteral("VorelServer"));
    EXPECT_EQ(about.ui.labelVersion->text(), QStringLiteral("version 2.04") + QLatin1String(kBuildWidth));
    EXPECT_EQ(about.ui.labelCopyright->text(), QString::fromUtf8(kMakerNotice));
    // The compiler's own date and time of the build: "Mmm dd yyyy hh:mm:ss".
    const QRegularExpression build(QStringLiteral("^Build by: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}$"));
    EXPECT_TRUE(build.match(about.ui.LabelBuild->text()).hasMatch()) << about.ui.LabelBuild->text().toStdString();
    EXPECT_EQ(about.ui.pushButtonOK->text(), QStringLiteral("OK"));
    EXPECT_EQ(about.ui.toolButtonUrl->iconSize(), QSize(64, 64));
    EXPECT_FALSE(about.ui.toolButtonUrl->icon().isNull());
}

TEST(AboutBox, TheIconOpensTheMakersPageAndTheBoxStaysOpen)
{
    UrlSink sink;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
    AboutDialog about(nullptr);
    about.show();
    about.ui.toolButtonUrl->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    ASSERT_EQ(sink.urls.size(), 1);
    EXPECT_EQ(sink.urls.first(), QUrl(QString::fromLatin1(kMakerUrl)));
    EXPECT_TRUE(about.isVisible());
}

} // namespace

#include "AboutDialogTest.moc"
