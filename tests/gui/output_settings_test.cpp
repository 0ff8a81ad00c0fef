#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "desktop/output_settings_dialog.h"
#include "settings_dialog_fixture.h"

namespace pv {
namespace {

const char* const kBoxes[] = {"chkWriteSuccessCSVLog",   "chkWriteErrorCSVLog",
                              "chkWriteSuccessEventLog", "chkWriteErrorEventLog",
                              "chkShowSuccessBalloons",  "chkShowErrorBalloons"};

class OutputSettingsTest : public SettingsDialogFixture {
 protected:
  std::unique_ptr<OutputSettingsDialog> MakeDialog(SettingsEdit& edit,
                                                   SettingsDefaults defaults = {}) {
    if (defaults.ProgramDirectory.empty()) defaults.ProgramDirectory = "/opt/pv/";
    auto dialog = std::make_unique<OutputSettingsDialog>(edit, defaults, &owner);
    dialog->setHelpOpenerForTests([this](QWidget*, const QString& page, const QString& anchor) {
      helpTopics.push_back({page, anchor});
    });
    return dialog;
  }
  DialogMaker maker() {
    return [this](SettingsEdit& edit) -> std::unique_ptr<QDialog> { return MakeDialog(edit); };
  }
  // The working copy's log directory: an existing one.
  std::string existingDir() const { return QDir::tempPath().toStdString(); }
};

TEST_F(OutputSettingsTest, LoadsStoredValuesAndDefaults) {
  struct Row {
    const char* name;
    std::vector<Entry> stored;
    std::string logDirectory;  // SettingsDefaults::LogDirectory
    QString dir, fileName;
    std::vector<bool> ticked;  // in the order of kBoxes
  };
  const auto spooler = [](const char* key, const char* value) {
    return Entry{"Spooler", key, value};
  };
  const QString pattern = "PVX-Year$-Month$-Day$.csv";
  const std::vector<Row> rows = {
      {"defaults, program dir", {}, "", "/opt/pv", pattern, {1, 1, 0, 1, 1, 1}},
      {"defaults, log dir", {}, "/var/log/pv", "/var/log/pv", pattern, {1, 1, 0, 1, 1, 1}},
      {"stored",
       {spooler("LogFileDir", "/srv/log"), spooler("LogFileName", "all.csv"),
        spooler("WriteSuccessCSVLog", "0"), spooler("WriteErrorCSVLog", "false"),
        spooler("WriteSuccessNTEventLog", "wahr"), spooler("WriteErrorNTEventLog", "no"),
        spooler("ShowSuccessBallons", "0"), spooler("ShowErrorBallons", "-1")},
       "/var/log/pv", "/srv/log", "all.csv", {0, 0, 1, 0, 0, 1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SettingsDefaults defaults;
    defaults.LogDirectory = row.logDirectory;
    auto dialog = MakeDialog(OpenEdit(row.stored), defaults);
    EXPECT_EQ(dialog->objectName(), QStringLiteral("frmOutputSettings"));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Output Settings"));
    EXPECT_EQ(Find<QLineEdit>(*dialog, "txtLogFileDir")->text(), row.dir);
    EXPECT_EQ(Find<QLineEdit>(*dialog, "txtLogFileName")->text(), row.fileName);
    for (std::size_t i = 0; i < std::size(kBoxes); ++i) {
      SCOPED_TRACE(kBoxes[i]);
      // Balloons and the system log are usable in every session.
      EXPECT_TRUE(Find<QCheckBox>(*dialog, kBoxes[i])->isEnabled());
      EXPECT_EQ(Find<QCheckBox>(*dialog, kBoxes[i])->isChecked(), row.ticked[i]);
    }
  }
}

TEST_F(OutputSettingsTest, RefusedFieldsKeepTheDialogOpenAndWriteNothing) {
  struct Row {
    std::string dir;
    QString fileName;
    QString message;
  };
  const std::vector<Row> rows = {
      {"/nonexistent/logs", "a.csv", "Log File Directory does not exist."},
      {"", "a.csv", "Log File Directory does not exist."},
      {existingDir(), "", "Log File Name can not be empty"},
      {"/nonexistent/logs", "", "Log File Directory does not exist."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.dir + " " + row.fileName.toStdString());
    // Refused even with the CSV log switched off.
    SettingsEdit& edit =
        OpenEdit({{"Spooler", "WriteSuccessCSVLog", "0"}, {"Spooler", "WriteErrorCSVLog", "0"}});
    const std::string before = WorkingCopyText();
    auto dialog = MakeDialog(edit);
    dialog->show();
    Find<QLineEdit>(*dialog, "txtLogFileDir")->setText(QString::fromStdString(row.dir));
    Find<QLineEdit>(*dialog, "txtLogFileName")->setText(row.fileName);
    ClickButton(*dialog, "cmdOK");
    EXPECT_EQ(TakeMessage(), std::make_pair(QMessageBox::Critical, row.message));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(WorkingCopyText(), before);
    EXPECT_FALSE(edit.SettingsChanged);
  }
}

TEST_F(OutputSettingsTest, OkWritesEveryKeyInOrder) {
  SettingsEdit& edit = OpenEdit();
  auto dialog = MakeDialog(edit);
  dialog->show();
  Find<QLineEdit>(*dialog, "txtLogFileDir")->setText(QString::fromStdString(existingDir()));
  // A name without any variable: one file for all days.
  Find<QLineEdit>(*dialog, "txtLogFileName")->setText(QStringLiteral("one-file.csv"));
  Find<QCheckBox>(*dialog, "chkWriteErrorEventLog")->setChecked(false);
  Find<QCheckBox>(*dialog, "chkWriteSuccessEventLog")->setChecked(true);
  ClickButton(*dialog, "cmdOK");
  EXPECT_EQ(TakeMessage().second, QString());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(edit.SettingsChanged);
  const std::vector<std::string> order = {
      "Spooler/LogFileDir",         "Spooler/LogFileName",
      "Spooler/WriteErrorCSVLog",   "Spooler/WriteErrorNTEventLog",
      "Spooler/WriteSuccessCSVLog", "Spooler/WriteSuccessNTEventLog",
      "Spooler/ShowSuccessBallons", "Spooler/ShowErrorBallons"};
  EXPECT_EQ(StoredKeys(), order);
  const std::vector<std::pair<const char*, std::string>> values = {
      {"LogFileDir", existingDir()}, {"LogFileName", "one-file.csv"},
      {"WriteErrorNTEventLog", "0"}, {"WriteSuccessNTEventLog", "1"}, {"ShowErrorBallons", "1"}};
  for (const auto& [key, value] : values) EXPECT_EQ(Stored("Spooler", key), value) << key;
}

TEST_F(OutputSettingsTest, OkCancelAndFailedWrite) {
  CheckOkCancelAndFailedWrite({{"Spooler", "LogFileDir", existingDir()}}, maker());
}

TEST_F(OutputSettingsTest, FolderButtons) {
  auto dialog = MakeDialog(OpenEdit({{"Spooler", "LogFileDir", existingDir()}}));
  dialog->show();
  std::vector<QUrl> opened;
  {
    const FileUrlCatcher catcher;
    ClickButton(*dialog, "cmdShowLogs");
    opened = catcher.urls;
  }
  EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(existingDir()))});

  // The picker: cancelled keeps the field, a chosen folder replaces it.
  const QString chosen = QDir::rootPath();
  for (const bool accept : {false, true}) {
    SCOPED_TRACE(accept);
    QTimer::singleShot(0, [&] {
      auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(picker, nullptr);
      EXPECT_EQ(picker->windowTitle(), QStringLiteral("Select Logfile Directory"));
      if (!accept) return picker->reject();
      picker->setDirectory(chosen);
      picker->selectFile(chosen);
      QMetaObject::invokeMethod(picker, "accept");
    });
    ClickButton(*dialog, "cmdSelectLogDir");
    EXPECT_EQ(QDir(Find<QLineEdit>(*dialog, "txtLogFileDir")->text()),
              QDir(accept ? chosen : QString::fromStdString(existingDir())));
  }
}

TEST_F(OutputSettingsTest, Keyboard) {
  const std::vector<KeyRow> rows = {
      {"txtLogFileName", Qt::Key_F1, Qt::NoModifier, 1, -1},
      {"chkShowErrorBalloons", Qt::Key_F1, Qt::NoModifier, 1, -1},
      {"txtLogFileDir", Qt::Key_F1, Qt::ShiftModifier, 0, -1},
      {"txtLogFileDir", Qt::Key_F1, Qt::ControlModifier, 0, -1},
      {"txtLogFileDir", Qt::Key_F1, Qt::AltModifier, 0, -1},
      {"txtLogFileDir", Qt::Key_H, Qt::AltModifier, 1, -1},
      {"cmdHelp", Qt::Key_Space, Qt::NoModifier, 1, -1},
      {"txtLogFileName", Qt::Key_Return, Qt::NoModifier, 0, QDialog::Accepted},
      {"txtLogFileName", Qt::Key_Escape, Qt::NoModifier, 0, QDialog::Rejected},
  };
  CheckKeys(rows, {{"Spooler", "LogFileDir", existingDir()}}, maker(),
            QStringLiteral("OutputSettings"));
  CheckTabOrder(
      *MakeDialog(OpenEdit()),
      {"txtLogFileDir", "cmdSelectLogDir", "txtLogFileName", "chkWriteSuccessCSVLog",
       "chkWriteErrorCSVLog", "cmdShowLogs", "chkWriteSuccessEventLog", "chkWriteErrorEventLog",
       "chkShowSuccessBalloons", "chkShowErrorBalloons", "cmdOK", "cmdCancel", "cmdHelp"});
}

TEST_F(OutputSettingsTest, HelpOpensTheTopic) {
  CheckHelpOpensTopic(MakeDialog(OpenEdit()), QStringLiteral("OutputSettings"));
}

}  // namespace
}  // namespace pv
