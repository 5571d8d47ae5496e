#pragma once

// TForm1: the record keeper's window. It shows one record of table JB at a
// time: a memo for the text (field info) and three keywords (tab1, tab2,
// tab3) in lower-case edits, bound through DataSource1 to the storage's
// table, a status line, and six buttons:
//   New     insert a record and put the focus in the memo
//   Save    post the record when the first keyword edit shows some text
//           ("Tab data cannot be empty!" otherwise; the state is kept)
//   Find, Next   nothing
//   Delete  delete the record after "Delete This Record?" is answered Yes
//   Done    close the table (a pending change is discarded) and the
//           database, close the window and end the program
// Start-up (FormCreate) opens the data file JBdata.ORB in the executable's
// directory, opens table JB, moves to the last record and puts the version
// in the title. An error in any step goes to the prompts' message and the
// later steps are skipped; so does an error of a button (the dataset keeps
// its state). Done always ends the program, whatever raises on the way.
// While the window lives it is the application's exception handler: errors
// that event handlers raise where the framework cannot pass them on (a
// record filter, the change event after a BLOB stream) go to the prompts'
// error message too.

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/jotbin_storage.h"
#include "components/data_source.h"
#include "components/db_common.h"
#include "ui/db_edit.h"
#include "ui/db_memo.h"

namespace orb {

// Texts the window shows.
inline constexpr char kJotbinCaption[] = "Jotbin";
inline constexpr char kSTabDataEmpty[] = "Tab data cannot be empty!";
inline constexpr char kSDeleteRecord[] = "Delete This Record?";
inline constexpr char kSRecordSaved[] = "Record saved.";
inline constexpr char kSRecordCreated[] = "New record created.Fill Memo && One or more Tab, Click on Save";
inline constexpr char kDataFileName[] = "JBdata.ORB";
inline constexpr char kTableName[] = "JB";

// A caption in which "&&" stands for one ampersand, as the label shows it
// (a single '&' marks a shortcut letter and is not shown).
QString CaptionText(const char* caption);

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // `storage` (not owned) outlives the window.
  explicit TForm1(TJotbinStorage& storage, QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Where the data file lies: the running executable's directory unless
  // set (with the trailing '/').
  void SetExecutableDir(std::string dir) { FExecutableDir = std::move(dir); }
  // Reads the version text; GetAppVersionStr unless set.
  void SetVersionReader(std::function<std::string()> reader) { FVersionReader = std::move(reader); }
  // Ends the program; QCoreApplication::quit unless set.
  void SetOnTerminate(std::function<void()> terminate) { FOnTerminate = std::move(terminate); }

  // Start-up (see above). Never raises.
  void FormCreate();
  // The buttons' handlers (New, Save, Delete, Done). Never raise.
  void Button1Click();
  void Button2Click();
  void Button5Click();
  void Button6Click();

  // The data file's full path and the version text, once start-up has
  // formed them.
  const std::string& DataFilePath() const { return FDataFilePath; }
  const std::string& VersionText() const { return FVersionText; }

  // The controls, for the program and its tests.
  TDataSource* DataSource1() { return &FDataSource1; }
  TORBDBMemo* DBMemo1() const { return FDBMemo1; }
  TORBDBEdit* DBEdit1() const { return FDBEdit1; }
  TORBDBEdit* DBEdit2() const { return FDBEdit2; }
  TORBDBEdit* DBEdit3() const { return FDBEdit3; }
  QLabel* Label1() const { return FLabel1; }
  QLabel* Label2() const { return FLabel2; }
  QLabel* Label3() const { return FLabel3; }
  QLabel* Label4() const { return FLabel4; }
  QPushButton* Button(int number) const { return FButtons[number - 1]; }

 protected:
  // Closing the window from its frame closes the table and the database
  // as Done does.
  void closeEvent(QCloseEvent* event) override;

 private:
  // The table, or EDatabaseError "Cannot perform this operation on a
  // closed dataset" when the storage has none.
  TDataSet& Table();
  // Closes the table and the database; errors go to the prompts' message.
  void CloseStorage();

  TJotbinStorage& FStorage;
  std::string FExecutableDir;
  std::function<std::string()> FVersionReader;
  std::function<void()> FOnTerminate;
  std::string FDataFilePath;
  std::string FVersionText;
  bool FStorageClosed = false;
  TExceptionHandler FPreviousExceptionHandler;

  TDataSource FDataSource1;
  TORBDBMemo* FDBMemo1;
  TORBDBEdit* FDBEdit1;
  TORBDBEdit* FDBEdit2;
  TORBDBEdit* FDBEdit3;
  QLabel* FLabel1;
  QLabel* FLabel2;
  QLabel* FLabel3;
  QLabel* FLabel4;
  QPushButton* FButtons[6];
};

}  // namespace orb
