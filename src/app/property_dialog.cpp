#include "app/property_dialog.h"

#include <QCheckBox>
#include <algorithm>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "app/app_texts.h"
#include "app/file_icons.h"
#include "app/shown_name.h"
#include "app/time_text.h"
#include "entry/backuped_file.h"
#include "generations/restore_tree.h"

namespace app {
namespace {

using IncrementalBackup::CFolder;
using IncrementalBackup::CFSFile;
using IncrementalBackup::CFSObject;

// Client pixels of the dialog resources.
constexpr int kLabelX = 16;
constexpr int kRowHeight = 22;
constexpr int kRightMargin = 14;

QString LastComponent(const QString& path) { return path.mid(path.lastIndexOf(u'\\') + 1); }

}  // namespace

QString SizeText(uint64_t bytes) {
  QString digits = QString::number(bytes);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, u',');
  return digits + QStringLiteral(" バイト");
}

QString TimeText(uint64_t fileTime) {
  const QDateTime local = LocalDateTime(fileTime);
  if (!local.isValid()) return {};
  const QDate date = local.date();
  const QTime time = local.time();
  return FormatNumbers(AppText(Text::kTimeFormat),
                       {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()});
}

QString CountsText(uint32_t files, uint32_t folders) {
  return FormatNumbers(AppText(Text::kCountsFormat), {files, folders});
}

PropertyDialogBase::PropertyDialogBase(int width, QWidget* parent) : QDialog(parent), width_(width) {
  // The values start where the longest label ends in the font in use.
  fieldX_ = std::max(100, kLabelX + fontMetrics().horizontalAdvance(QStringLiteral("バックアップ時の場所 :")) + 10);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  icon_ = new QLabel(this);
  icon_->setObjectName(QStringLiteral("icon"));
  icon_->setAccessibleName(QStringLiteral("アイコン"));
  icon_->setGeometry(kLabelX, 10, 32, 32);
  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("name"));
  name_->setAccessibleName(QStringLiteral("名前"));
  name_->setReadOnly(true);
  name_->setGeometry(fieldX_, 15, width_ - fieldX_ - kRightMargin, kRowHeight);
}

void PropertyDialogBase::SetIcon(const QIcon& icon) { icon_->setPixmap(icon.pixmap(32, 32)); }

void PropertyDialogBase::SetName(const QString& name) {
  name_->setText(ShownName(name));
  name_->setCursorPosition(0);
}

QLineEdit* PropertyDialogBase::AddField(const QString& label, int y, const QString& value) {
  auto* caption = new QLabel(label + QStringLiteral(" :"), this);
  caption->setGeometry(kLabelX, y, fieldX_ - kLabelX - 4, kRowHeight);
  auto* field = new QLineEdit(this);
  field->setReadOnly(true);
  // Read-only values look like the labels beside them, yet can be selected
  // and copied.
  field->setFrame(false);
  QPalette palette = field->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  field->setPalette(palette);
  field->setAccessibleName(label);
  field->setGeometry(fieldX_, y, width_ - fieldX_ - kRightMargin, kRowHeight);
  caption->setBuddy(field);
  field->setText(ShownName(value));
  // A long path shows its beginning, the drive first.
  field->setCursorPosition(0);
  fields_.append({label, field});
  return field;
}

QLineEdit* PropertyDialogBase::Field(const QString& label) const {
  for (const auto& [text, field] : fields_)
    if (text == label) return field;
  return nullptr;
}

void PropertyDialogBase::AddAttributeBoxes(int y) {
  const struct {
    const char16_t* text;
    const char* name;
    int x, y;
  } boxes[] = {{u"読み取り専用(&R)", "readOnly", kLabelX, y},
               {u"隠しファイル(&H)", "hidden", kLabelX + 150, y},
               {u"圧縮(&A)", "compressed", kLabelX, y + 24},
               {u"暗号化(&H)", "encrypted", kLabelX + 150, y + 24}};
  for (const auto& b : boxes) {
    const QString text = QString::fromUtf16(b.text);
    auto* box = new QCheckBox(text, this);
    box->setObjectName(QLatin1String(b.name));
    box->setAccessibleName(QString(text).remove(QStringLiteral("(&") + text.at(text.size() - 2) + u')'));
    box->setEnabled(false);
    box->setGeometry(b.x, b.y, 140, kRowHeight);
    boxes_.append(box);
  }
}

void PropertyDialogBase::SetAttributes(uint32_t attributes) {
  const uint32_t bits[] = {0x1, 0x2, 0x800, 0x4000};
  for (qsizetype i = 0; i < boxes_.size(); ++i) boxes_[i]->setChecked((attributes & bits[i]) != 0);
}

void PropertyDialogBase::Finish(int y) {
  close_ = new QPushButton(QStringLiteral("閉じる"), this);
  close_->setObjectName(QStringLiteral("close"));
  close_->setAccessibleName(QStringLiteral("閉じる"));
  close_->setDefault(true);
  close_->setGeometry(width_ - kRightMargin - 80, y, 80, 26);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  setFixedSize(width_, y + 26 + 10);
  close_->setFocus();
}

void PropertyDialogBase::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (lines_.isEmpty()) return;
  QPainter painter(this);
  painter.setPen(QPen(QColor(128, 128, 128), 1));
  for (int y : lines_) painter.drawLine(10, y, lineEnd_, y);
}

CPropertyDialog::CPropertyDialog(const CFSFile& file, QWidget* parent) : PropertyDialogBase(380, parent) {
  setObjectName(QStringLiteral("fileProperties"));
  const QString path = QString::fromStdU16String(file.GetPath());
  const QString name = LastComponent(path);
  FileIcons& icons = FileIcons::Instance();
  SetIcon(icons.ForFile(name));
  SetName(name);
  setWindowTitle(name + QStringLiteral(" のプロパティ"));

  QString type = icons.TypeName(name);
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot >= 0 && dot + 1 < name.size()) type += QStringLiteral(" (.") + name.mid(dot + 1) + u')';
  AddField(QStringLiteral("種類"), 60, type);
  AddField(QStringLiteral("バックアップ時の場所"), 82, path);
  AddField(QStringLiteral("サイズ"), 104, SizeText(file.GetData().GetFileSize()));
  AddField(QStringLiteral("圧縮サイズ"), 126, SizeText(file.GetData().GetStoredSize()));
  QLineEdit* created = AddField(QStringLiteral("作成日時"), 163);
  QLineEdit* modified = AddField(QStringLiteral("更新日時"), 185);
  QLineEdit* accessed = AddField(QStringLiteral("アクセス日時"), 207);
  AddAttributeBoxes(250);

  // A gap in the generation history leaves the file without a current
  // entry: no times, no attributes.
  const QPXFile::IQPXBackupedFile* entry = file.GetData().GetCurrentEntry();
  if (entry != nullptr && entry->GetHeader() != nullptr) {
    const QPXFile::CQPXBackupedFileHeader& record = *entry->GetHeader();
    created->setText(TimeText(record.GetCreationTime()));
    modified->setText(TimeText(record.GetLastWriteTime()));
    accessed->setText(TimeText(record.GetLastAccessTime()));
    SetAttributes(record.GetAttributes());
  }
  AddLines({50, 153, 240}, 370);
  Finish(306);
}

CFolderPropertyDialog::CFolderPropertyDialog(const CFolder& folder, QWidget* parent) : PropertyDialogBase(380, parent) {
  setObjectName(QStringLiteral("folderProperties"));
  const QString path = QString::fromStdU16String(folder.GetPath());
  const QString name = LastComponent(path);
  SetIcon(FileIcons::Instance().Folder());
  SetName(name);
  setWindowTitle(name + QStringLiteral(" のプロパティ"));

  const auto& data = folder.GetData();
  const IncrementalBackup::FolderTotals totals = IncrementalBackup::TotalsBelow(folder);
  AddField(QStringLiteral("種類"), 60, QStringLiteral("ファイル フォルダ"));
  AddField(QStringLiteral("バックアップ時の場所"), 82, path);
  AddField(QStringLiteral("サイズ"), 104, SizeText(totals.fileSize));
  AddField(QStringLiteral("圧縮サイズ"), 126, SizeText(totals.storedSize));
  AddField(QStringLiteral("内容"), 148,
           CountsText(static_cast<uint32_t>(totals.files), static_cast<uint32_t>(totals.folders)));
  QLineEdit* created = AddField(QStringLiteral("作成日時"), 180);
  AddAttributeBoxes(214);
  IncrementalBackup::CAttributes attributes;
  if (data.GetCurrentAttributes(attributes)) {
    created->setText(TimeText(attributes.CreationTime));
    SetAttributes(attributes.Attributes);
  }
  Finish(270);
}

CComplexPropertyDialog::CComplexPropertyDialog(const QString& folder, uint32_t files, uint32_t folders, uint64_t size,
                                               uint64_t storedSize, QWidget* parent)
    : PropertyDialogBase(360, parent) {
  setObjectName(QStringLiteral("selectionProperties"));
  SetIcon(QIcon::fromTheme(QStringLiteral("folder-open"), FileIcons::Instance().Folder()));
  setWindowTitle(QStringLiteral("ファイル・フォルダのプロパティ"));
  SetName(CountsText(files, folders));
  AddField(QStringLiteral("種類"), 60, QStringLiteral("複数の種類"));
  AddField(QStringLiteral("バックアップ時の場所"), 82, QStringLiteral("すべて ") + folder);
  AddField(QStringLiteral("サイズ"), 104, SizeText(size));
  AddField(QStringLiteral("圧縮サイズ"), 126, SizeText(storedSize));
  AddLines({50, 155}, 350);
  Finish(166);
}

std::unique_ptr<PropertyDialogBase> MakePropertyDialog(
    const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator, const QStringList& paths,
    QWidget* parent) {
  if (paths.isEmpty()) return nullptr;
  if (paths.size() == 1) {
    CFSObject* node = creator.FindNode(paths.first().toStdU16String());
    if (node == nullptr) return nullptr;
    if (node->IsFolder()) {
      return std::make_unique<CFolderPropertyDialog>(static_cast<const CFolder&>(*node), parent);
    }
    return std::make_unique<CPropertyDialog>(static_cast<const CFSFile&>(*node), parent);
  }

  QString base = paths.first().left(std::max<qsizetype>(paths.first().lastIndexOf(u'\\'), 0));
  while (base.endsWith(u'\\')) base.chop(1);
  uint32_t files = 0;
  uint32_t folders = 0;
  uint64_t size = 0;
  uint64_t storedSize = 0;
  for (const QString& path : paths) {
    CFSObject* node = creator.FindNode(path.toStdU16String());
    if (node == nullptr) continue;
    if (node->IsFolder()) {
      const IncrementalBackup::FolderTotals totals = IncrementalBackup::TotalsBelow(static_cast<const CFolder&>(*node));
      size += totals.fileSize;
      storedSize += totals.storedSize;
      files += static_cast<uint32_t>(totals.files);
      folders += static_cast<uint32_t>(totals.folders) + 1;
    } else {
      const auto& data = static_cast<const CFSFile&>(*node).GetData();
      size += data.GetFileSize();
      storedSize += data.GetStoredSize();
      ++files;
    }
  }
  return std::make_unique<CComplexPropertyDialog>(base, files, folders, size, storedSize, parent);
}

}  // namespace app
