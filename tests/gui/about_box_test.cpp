#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <vector>

#include "desktop/about_box.h"

namespace pv {
namespace {

AboutInfo SampleInfo() {
  return {QStringLiteral("9.8.7"),
          QStringLiteral("Postvane - Spooler"),
          QStringLiteral("Delivers spooled mails."),
          QStringLiteral("/etc/postvane/postvane.start"),
          QStringLiteral("/var/spool/postvane/"),
          QUrl::fromLocalFile(QStringLiteral("/opt/pv/share/doc/x/html/index.html"))};
}

QString LabelText(const QWidget& box, const char* name) {
  const auto* label = box.findChild<QLabel*>(QString::fromLatin1(name));
  return label ? label->text() : QStringLiteral("<no label %1>").arg(QString::fromLatin1(name));
}

// Takes the URLs QDesktopServices hands to the "file" scheme.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  std::vector<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

int OpenAboutBoxes() {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (qobject_cast<AboutBox*>(widget) && widget->isVisible()) ++count;
  return count;
}

void DropClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

TEST(AboutBoxTest, ShowsTheGivenInfo) {
  const AboutBox box(SampleInfo());
  EXPECT_EQ(box.objectName(), QStringLiteral("frmAbout"));
  EXPECT_EQ(box.windowTitle(), QStringLiteral("About Postvane"));
  struct Row {
    const char* label;
    QString text;
  };
  const std::vector<Row> rows = {
      {"lblTitle", QStringLiteral("Postvane")},
      {"lblVersion", QStringLiteral("Version 9.8.7")},
      {"lblDisplayName", QStringLiteral("Postvane - Spooler")},
      {"lblDescription", QStringLiteral("Delivers spooled mails.")},
      {"lblSettingsFile", QStringLiteral("Settings file: /etc/postvane/postvane.start")},
      {"lblSpoolDirectory", QStringLiteral("Spool directory: /var/spool/postvane/")},
      {"lblLicence", QStringLiteral("Postvane is free software under the MIT licence. It uses Qt under the GNU "
                                    "LGPL version 3.")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(LabelText(box, row.label), row.text);
  }
  for (const char* name : {"lblSettingsFile", "lblSpoolDirectory"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(box.findChild<QLabel*>(QString::fromLatin1(name))->textInteractionFlags() & Qt::TextSelectableByMouse);
  }
  EXPECT_TRUE(LabelText(box, "lblManual").contains(QStringLiteral("Open the manual")));
  ASSERT_NE(box.findChild<QPushButton*>(QStringLiteral("cmdAboutQt")), nullptr);
  EXPECT_TRUE(box.findChild<QPushButton*>(QStringLiteral("cmdOK"))->isDefault());
}

TEST(AboutBoxTest, EnterAndEscapeClose) {
  struct Row {
    Qt::Key key;
    int result;
  };
  const std::vector<Row> rows = {
      {Qt::Key_Return, QDialog::Accepted}, {Qt::Key_Enter, QDialog::Accepted}, {Qt::Key_Escape, QDialog::Rejected}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    AboutBox box(SampleInfo());
    box.show();
    QWidget* target = box.focusWidget() ? box.focusWidget() : &box;
    QTest::keyClick(target, row.key);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), row.result);
  }
}

TEST(AboutBoxTest, ManualLinkGoesToTheUrlHandler) {
  UrlCatcher catcher;
  AboutBox box(SampleInfo());
  box.show();
  auto* link = box.findChild<QLabel*>(QStringLiteral("lblManual"));
  ASSERT_NE(link, nullptr);
  // The link text starts at the label's left edge.
  QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(4, link->height() / 2));
  ASSERT_EQ(catcher.urls.size(), 1u);
  EXPECT_EQ(catcher.urls[0], SampleInfo().manualUrl);
}

TEST(AboutBoxTest, ShowAboutBoxKeepsOneBoxPerProcess) {
  AboutBox* first = ShowAboutBox(nullptr, false);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->isModal());
  first->showMinimized();
  AboutBox* second = ShowAboutBox(nullptr, true);
  EXPECT_EQ(second, first);
  EXPECT_FALSE(second->isMinimized());
  EXPECT_EQ(OpenAboutBoxes(), 1);
  // Closed, the box is gone, and the next call opens a new one.
  first->close();
  DropClosedWindows();
  EXPECT_EQ(OpenAboutBoxes(), 0);
  AboutBox* third = ShowAboutBox(nullptr, true);
  EXPECT_TRUE(third->isModal());
  EXPECT_EQ(OpenAboutBoxes(), 1);
  third->close();
  DropClosedWindows();
}

}  // namespace
}  // namespace pv

#include "about_box_test.moc"
