#include "app/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QPalette>

#include "app/app_version.h"
#include "components/dataset.h"
#include "components/db_common.h"
#include "components/prompts.h"
#include "engine/platform/file_version.h"
#include "ui/db_control.h"

namespace orb {

namespace {

// The window's client area and its layout, in pixels.
constexpr int kClientWidth = 581;
constexpr int kClientHeight = 281;
constexpr int kBorder = 4;
constexpr int kLeft = 366;
constexpr int kTop = 154;
constexpr int kMemoWidth = 400;
constexpr int kMemoHeight = 228;
constexpr int kSideLeft = kBorder + kMemoWidth + 12;
constexpr int kSideWidth = kClientWidth - kSideLeft - kBorder - 4;
constexpr int kButtonWidth = (kSideWidth - 6) / 2;
constexpr int kButtonHeight = 25;

// The system's hot-light colour (links and hot-tracked items).
const QColor kHotLight(0, 102, 204);
const QColor kNavy(0, 0, 128);

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

QString CaptionText(const char* caption) {
  QString text;
  for (const char* p = caption; *p != '\0'; ++p) {
    if (*p == '&') {
      if (p[1] != '&') continue;
      ++p;
    }
    text += QChar::fromLatin1(*p);
  }
  return text;
}

TForm1::TForm1(TJotbinStorage& storage, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      FStorage(storage) {
  FPreviousExceptionHandler = SetApplicationExceptionHandler(ReportControlError);
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kJotbinCaption));
  setToolTip(QStringLiteral("Jotbin: short notes, three keywords each"));
  setFixedSize(kClientWidth, kClientHeight);
  move(kLeft, kTop);
  QFont font(QStringLiteral("Tahoma"));
  font.setPointSize(8);
  font.setBold(true);
  setFont(font);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kHotLight);
  palette.setColor(QPalette::WindowText, Qt::white);
  setPalette(palette);
  setAutoFillBackground(true);

  FDataSource1.SetDataSet(FStorage.Table());

  FDBMemo1 = new TORBDBMemo(this);
  FDBMemo1->setObjectName(QStringLiteral("DBMemo1"));
  FDBMemo1->setGeometry(kBorder, kBorder, kMemoWidth, kMemoHeight);
  FDBMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QPalette memo_palette = FDBMemo1->palette();
  memo_palette.setColor(QPalette::Text, kNavy);
  FDBMemo1->setPalette(memo_palette);
  FDBMemo1->SetDataSource(&FDataSource1);
  FDBMemo1->SetDataField("info");

  QLabel** labels[] = {&FLabel1, &FLabel2, &FLabel3};
  TORBDBEdit** edits[] = {&FDBEdit1, &FDBEdit2, &FDBEdit3};
  const char* captions[] = {"   Tab1 &&  Find     ", "Tab2", "Tab3"};
  for (int i = 0; i < 3; ++i) {
    const int top = kBorder + i * 44;
    QLabel* label = new QLabel(CaptionText(captions[i]), this);
    label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    label->setGeometry(kSideLeft, top, kSideWidth, 16);
    *labels[i] = label;
    TORBDBEdit* edit = new TORBDBEdit(this);
    edit->setObjectName(QStringLiteral("DBEdit%1").arg(i + 1));
    edit->setGeometry(kSideLeft, top + 17, kSideWidth, 22);
    edit->SetCharCase(ecLowerCase);
    edit->SetDataSource(&FDataSource1);
    edit->SetDataField("tab" + std::to_string(i + 1));
    *edits[i] = edit;
  }

  FLabel4 = new QLabel(this);
  FLabel4->setObjectName(QStringLiteral("Label4"));
  FLabel4->setGeometry(kBorder, kBorder + kMemoHeight + 8, kClientWidth - 2 * kBorder, 20);
  QFont status_font = font;
  status_font.setPointSize(10);
  FLabel4->setFont(status_font);
  QPalette status_palette = FLabel4->palette();
  status_palette.setColor(QPalette::WindowText, Qt::red);
  FLabel4->setPalette(status_palette);

  const char* button_captions[] = {"New", "Save", "Find", "Next", "Delete", "Done"};
  for (int i = 0; i < 6; ++i) {
    QPushButton* button = new QPushButton(QString::fromLatin1(button_captions[i]), this);
    button->setObjectName(QStringLiteral("Button%1").arg(i + 1));
    button->setGeometry(kSideLeft + (i % 2) * (kButtonWidth + 6), kBorder + 136 + (i / 2) * (kButtonHeight + 6),
                        kButtonWidth, kButtonHeight);
    FButtons[i] = button;
  }
  connect(FButtons[0], &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(FButtons[1], &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(FButtons[4], &QPushButton::clicked, this, [this] { Button5Click(); });
  connect(FButtons[5], &QPushButton::clicked, this, [this] { Button6Click(); });
}

TForm1::~TForm1() {
  // The controls' links go before the data source they are attached to.
  delete FDBMemo1;
  delete FDBEdit1;
  delete FDBEdit2;
  delete FDBEdit3;
  SetApplicationExceptionHandler(std::move(FPreviousExceptionHandler));
}

TDataSet& TForm1::Table() {
  TDataSet* table = FStorage.Table();
  if (table == nullptr) DatabaseError(std::string(kSDataSetClosed));
  return *table;
}

void TForm1::FormCreate() {
  try {
    const std::string dir = FExecutableDir.empty() ? DirectoryOf(OwnExecutablePath()) : FExecutableDir;
    FDataFilePath = dir + kDataFileName;
    FStorage.OpenDatabase(FDataFilePath);
    FStorage.OpenTable(kTableName);
    Table().Last();
    FVersionText = FVersionReader ? FVersionReader() : GetAppVersionStr();
    setWindowTitle(windowTitle() + QStringLiteral("  - ver: ") + QString::fromStdString(FVersionText));
  } catch (...) {
    ReportControlError(std::current_exception());
  }
}

void TForm1::Button1Click() {
  try {
    TDataSet& table = Table();
    table.Insert();
    table.Edit();
    FDBMemo1->setFocus();
    FLabel4->setText(CaptionText(kSRecordCreated));
  } catch (...) {
    ReportControlError(std::current_exception());
  }
}

void TForm1::Button2Click() {
  // The text the edit shows, typed but not yet in the field.
  if (FDBEdit1->text().isEmpty()) {
    Prompts().ShowMessage(kSTabDataEmpty);
    return;
  }
  try {
    Table().Post();
    FLabel4->setText(QString::fromLatin1(kSRecordSaved));
  } catch (...) {
    ReportControlError(std::current_exception());
  }
}

void TForm1::Button5Click() {
  if (Prompts().Confirm(kSDeleteRecord) != TPromptAnswer::kYes) return;
  try {
    Table().Delete();
  } catch (...) {
    ReportControlError(std::current_exception());
  }
}

void TForm1::Button6Click() {
  // Closing the table drops a pending edit or insert. (No Edit first: it
  // would change nothing that is stored, and a record locked elsewhere
  // would stop the program from ending.)
  CloseStorage();
  close();
  if (FOnTerminate) {
    FOnTerminate();
  } else {
    QCoreApplication::quit();
  }
}

void TForm1::CloseStorage() {
  if (FStorageClosed) return;
  FStorageClosed = true;
  try {
    if (TDataSet* table = FStorage.Table()) table->Close();
  } catch (...) {
    ReportControlError(std::current_exception());
  }
  try {
    FStorage.CloseDatabase();
  } catch (...) {
    ReportControlError(std::current_exception());
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  CloseStorage();
  QWidget::closeEvent(event);
}

}  // namespace orb
