#pragma once
// What the settings dialogs' tests share: a settings file and its edit in a temporary
// directory, the message boxes answered and recorded, the help requests recorded, and the
// reading of the working copy.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "desktop/dialog_plumbing.h"
#include "desktop/message_box.h"
#include "desktop/settings_edit.h"
#include "settings/ini_store.h"
#include "settings/spooler_settings.h"
#include "support/durable_write.h"
#include "support/text.h"

// Failures show texts, not their UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace pv {

// Takes the URLs QDesktopServices hands to the "file" scheme while it lives.
class FileUrlCatcher : public QObject {
  Q_OBJECT
 public:
  FileUrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
  ~FileUrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  std::vector<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

struct Entry {
  std::string section;
  std::string key;
  std::string value;
};

class SettingsDialogFixture : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    settingsFile_ = dir_.filePath(QStringLiteral("postvane.start")).toStdString();
    SetMessageAnswererForTests([this](const MessageRequest& request) {
      messages.push_back(request);
      return QMessageBox::Ok;
    });
  }
  void TearDown() override { SetMessageAnswererForTests({}); }

  // A fresh edit of a settings file holding entries (none: no settings file at all).
  SettingsEdit& OpenEdit(const std::vector<Entry>& entries = {}) {
    edit_.reset();
    ClearSettingsFile(settingsFile_);
    for (const Entry& e : entries)
      EXPECT_TRUE(WriteSettingString(settingsFile_, e.section, e.key, e.value));
    auto opened = SettingsEdit::Open(settingsFile_, settingsFile_ + ".tmp");
    EXPECT_NE(opened.edit, nullptr) << opened.detail.toStdString();
    edit_ = std::move(opened.edit);
    return *edit_;
  }
  std::string WorkingCopyText() const {
    std::string bytes;
    ReadWholeFile(edit_->workingCopy(), bytes);
    return bytes;
  }
  std::string Stored(std::string_view section, std::string_view key) const {
    return ReadSettingString(edit_->workingCopy(), section, key, "<missing>");
  }
  // The keys of the working copy as "Section/Key", in file order.
  std::vector<std::string> StoredKeys() const {
    std::vector<std::string> keys;
    std::string section;
    for (const std::string& line : Split(WorkingCopyText(), '\n')) {
      if (line.starts_with('['))
        section = line.substr(1, line.find(']') - 1);
      else if (line.find('=') != std::string::npos)
        keys.push_back(section + "/" + line.substr(0, line.find('=')));
    }
    return keys;
  }
  // The last message as "icon text", "" when none was shown; forgets the messages.
  std::pair<QMessageBox::Icon, QString> TakeMessage() {
    std::pair<QMessageBox::Icon, QString> last{QMessageBox::NoIcon, QString()};
    if (!messages.empty()) last = {messages.back().icon, messages.back().text};
    EXPECT_LE(messages.size(), 1u);
    messages.clear();
    return last;
  }
  template <typename Control>
  static Control* Find(QDialog& dialog, const char* name) {
    auto* control = dialog.findChild<Control*>(QLatin1String(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  static void ClickButton(QDialog& dialog, const char* name) {
    QTest::mouseClick(Find<QWidget>(dialog, name), Qt::LeftButton);
  }
  // Shows the dialog and makes it the active window, so that focus and keys reach it.
  static void ShowActive(QDialog& dialog) {
    dialog.show();
    dialog.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
  }

  // Makes the dialog under test over a settings edit, its help requests recorded.
  using DialogMaker = std::function<std::unique_ptr<QDialog>(SettingsEdit&)>;

  // OK sets SettingsChanged and writes, Cancel does neither, and a write the store refuses is
  // reported naming the working copy while the dialog stays open.
  void CheckOkCancelAndFailedWrite(const std::vector<Entry>& stored, const DialogMaker& make) {
    struct Row {
      const char* button;
      bool breakFile;  // a directory in the working copy's place: every write fails
      bool changed, closed;
    };
    const std::vector<Row> rows = {{"cmdOK", false, true, true},
                                   {"cmdCancel", false, false, true},
                                   {"cmdOK", true, false, false}};
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.button) + (row.breakFile ? " broken" : ""));
      SettingsEdit& edit = OpenEdit(stored);
      const std::string before = WorkingCopyText();
      const QString copy = QString::fromStdString(edit.workingCopy());
      auto dialog = make(edit);
      dialog->show();
      if (row.breakFile) {
        ClearSettingsFile(edit.workingCopy());
        ASSERT_TRUE(QDir().mkdir(copy));
      }
      ClickButton(*dialog, row.button);
      EXPECT_EQ(edit.SettingsChanged, row.changed);
      EXPECT_EQ(!dialog->isVisible(), row.closed);
      const auto [icon, text] = TakeMessage();
      EXPECT_EQ(icon, row.breakFile ? QMessageBox::Critical : QMessageBox::NoIcon);
      if (row.breakFile) {
        EXPECT_TRUE(text.contains(copy)) << text.toStdString();
        QDir().rmdir(copy);
      } else {
        // OK writes even when nothing was changed.
        EXPECT_EQ(WorkingCopyText() != before, row.changed);
      }
    }
  }

  struct KeyRow {
    const char* target;  // the control with the focus
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::size_t helps;  // help requests made
    int result;         // -1: the dialog stays open
  };
  // Each row on a fresh dialog; help requests must name spooler.htm and the anchor.
  void CheckKeys(const std::vector<KeyRow>& rows, const std::vector<Entry>& stored,
                 const DialogMaker& make, const QString& anchor) {
    for (const KeyRow& row : rows) {
      SCOPED_TRACE(std::string(row.target) + " key " + std::to_string(row.key) + " modifiers " +
                   std::to_string(row.modifiers));
      helpTopics.clear();
      auto dialog = make(OpenEdit(stored));
      ShowActive(*dialog);
      Find<QWidget>(*dialog, row.target)->setFocus();
      QTest::keyClick(Find<QWidget>(*dialog, row.target), row.key, row.modifiers);
      // A mnemonic presses its button a moment later, the way a click looks.
      (void)QTest::qWaitFor([&] { return helpTopics.size() == row.helps; }, 2000);
      EXPECT_EQ(helpTopics.size(), row.helps);
      for (const auto& topic : helpTopics)
        EXPECT_EQ(topic, std::make_pair(QStringLiteral("spooler.htm"), anchor));
      EXPECT_EQ(dialog->isVisible(), row.result < 0);
      if (row.result >= 0) {
        EXPECT_EQ(dialog->result(), row.result);
      }
    }
  }
  // The real help: F1 hands the topic's page to the desktop, the default browser being known.
  template <typename Dialog>
  void CheckHelpOpensTopic(std::unique_ptr<Dialog> dialog, const QString& anchor) {
    const QUrl topic = HelpTopicUrl(QStringLiteral("spooler.htm"), anchor);
    if (topic.isEmpty()) GTEST_SKIP() << "the manual's topic pages are not available yet";
    dialog->setHelpOpenerForTests(&ShowHelp);
    SetBrowserFinderForTests([] { return QStringLiteral("test-browser.desktop"); });
    const FileUrlCatcher catcher;
    ShowActive(*dialog);
    QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog.get(), Qt::Key_F1);
    SetBrowserFinderForTests({});
    EXPECT_EQ(catcher.urls, std::vector<QUrl>{topic});
    EXPECT_TRUE(messages.empty());
  }
  // Tab from the first control goes round the controls in order, then back to the first.
  void CheckTabOrder(QDialog& dialog, const std::vector<QString>& order) {
    ShowActive(dialog);
    Find<QWidget>(dialog, order.front().toLatin1().constData())->setFocus();
    std::vector<QString> visited;
    for (std::size_t i = 0; i <= order.size(); ++i) {
      visited.push_back(QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                    : QString());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    std::vector<QString> expected = order;
    expected.push_back(order.front());
    EXPECT_EQ(visited, expected);
  }

  QWidget owner;
  std::vector<MessageRequest> messages;
  std::vector<std::pair<QString, QString>> helpTopics;  // page, anchor

 private:
  QTemporaryDir dir_;
  std::string settingsFile_;
  std::unique_ptr<SettingsEdit> edit_;
};

}  // namespace pv
