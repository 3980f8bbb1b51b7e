#include "app/qpx_manager_app.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QThread>
#include <cstdio>
#include <new>

#include "app/app_texts.h"
#include "app/desktop_integration.h"
#include "app/dir_tree_ctrl.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/option_dialog.h"
#include "app/property_dialog.h"
#include "app/qpx_data_object.h"
#include "app/qpx_manager_view.h"
#include "app/restore_progress_dlg.h"
#include "app/restore_selection.h"
#include "app/shown_name.h"
#include "app/temporary_restore.h"
#include "app/versions_dialog.h"
#include "host/private_folder.h"
#include "host/string_ids.h"

namespace app {
namespace {

namespace ManagerText = IncrementalBackup::ManagerText;

// In a place of this user's only: a lock in a shared folder would let
// another user keep the program from starting. Empty when there is none.
QString DefaultLockFile() {
  const std::string folder = host::UserPrivateFolder();
  return folder.empty() ? QString() : QString::fromStdString(folder) + QStringLiteral("/Tessera.lock");
}

}  // namespace

CQPXManagerApp::CQPXManagerApp(AppOptions options) : options_(std::move(options)) {
  InstallQtTranslations();
  fileChooser_ = [](QWidget* parent, const QString& filter, const QString& suffix) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
  };
}

CQPXManagerApp::~CQPXManagerApp() {
  ReleaseLoadedState();
  frame_.reset();
}

bool CQPXManagerApp::InitInstance(const QStringList& arguments) {
  // One running copy per user. The lock is held until the process ends; a
  // lock left by a copy that was killed is taken over.
  const QString lockFile = options_.lockFile.isEmpty() ? DefaultLockFile() : options_.lockFile;
  if (lockFile.isEmpty())
    std::fprintf(stderr, "tessera: no private folder for the single-instance lock; another copy is not detected\n");
  if (!lockFile.isEmpty()) lock_ = std::make_unique<QLockFile>(lockFile);
  if (lock_ != nullptr) lock_->setStaleLockTime(0);
  if (lock_ != nullptr && !lock_->tryLock(0)) {
    lock_.reset();
    // Also said on the terminal, for a start from a script or a shell.
    std::fprintf(stderr, "tessera: %s\n", AppText(Text::kAlreadyRunning).toUtf8().constData());
    if (options_.unattended) return false;
    QMessageBox box(QMessageBox::Warning, AppText(Text::kCaption), AppText(Text::kAlreadyRunning), QMessageBox::Ok);
    box.exec();
    return false;
  }

  frame_ = std::make_unique<CMainFrame>(*this);
  frame_->TreePane()->SetFolderModel(&folderModel_);
  frame_->ListPane()->SetListModel(&listModel_);
  frame_->ListPane()->SetTemporaryRestore(
      [this](QString folder, QStringList names) { return CaptureEntries(*this, std::move(folder), std::move(names)); },
      [this](const TemporaryEntries& entries, bool quiet) { return RunTemporaryRestore(*this, entries, quiet); });
  SetMessageOwner(frame_.get());
  frame_->show();

  config_ = std::make_unique<CAppConfig>(options_.configFile.isEmpty() ? ConfigFilePath() : options_.configFile);
  config_->Load();
  frame_->ApplySettings(*config_);

  if (!arguments.isEmpty() && !arguments.first().isEmpty()) {
    OpenBackupFile(arguments.first());
  } else {
    frame_->SetDocumentTitle(QString());
  }
  return true;
}

void CQPXManagerApp::ExitInstance() {
  if (config_ == nullptr) return;
  if (frame_ != nullptr) frame_->StoreSettings(*config_);
  RemoveTemporaryFolders();
  if (!config_->Save()) {
    const QString text = QString::fromUtf8(kConfigSaveFailed).arg(config_->FilePath());
    std::fprintf(stderr, "tessera: %s\n", text.toUtf8().constData());
    ShowErrorText(text);
  }
}

long CQPXManagerApp::GenerationCount() const { return set_ ? set_->Count() : 0; }

void CQPXManagerApp::OnFileOpen() {
  QString defaultExtension;
  QString filter;
  QString initialName;
  // Every text is loaded even when one fails, so the chooser gets what there is.
  bool loaded = LoadText(Text::kDefaultExtension, defaultExtension);
  loaded = LoadText(Text::kDefaultFileName, initialName) && loaded;
  loaded = LoadText(Text::kOpenFilter, filter) && loaded;
  if (!loaded) ShowErrorMessage(Text::kLoadStringFailed);
  const QString path = fileChooser_(frame_.get(), QtFileFilter(filter) + QStringLiteral(";;") + QString::fromUtf8(kAllFilesFilter),
                                    defaultExtension);
  if (path.isEmpty()) return;
  OpenBackupFile(path);
}

void CQPXManagerApp::OpenBackupFile(const QString& path) {
  const bool wasOpened = opened_;
  opened_ = false;

  // The engine decides whether the path is opened; that reads a ".qpi"
  // archive, so the task does it, and the loaded backup is released only
  // once the path is taken.
  const QFileInfo info(path);
  opening_ = info.absoluteFilePath().toStdString();
  verdict_ = IncrementalBackup::OpenVerdict::kLoad;
  int32_t result = 0;
  {
    CShowTaskProgressDlg dialog(frame_.get(), *this);
    dialog_ = &dialog;
    dialog.exec();
    dialog_ = nullptr;
    result = dialog.GetTaskResult();
  }
  opening_.clear();
  if (verdict_ != IncrementalBackup::OpenVerdict::kLoad) {
    // A path turned away leaves the loaded backup as it was, restore
    // commands included; only a name of another kind goes without a word.
    if (verdict_ != IncrementalBackup::OpenVerdict::kNotAnArchiveName) ShowErrorMessage(Text::kNothingToShow);
    opened_ = wasOpened;
    return;
  }
  if (static_cast<uint8_t>(result) == 0) {
    // Nothing of the earlier backup may stay on screen once it is released.
    ResetLoadedState();
    frame_->SetDocumentTitle(QString());
    return;
  }

  std::vector<uint64_t> created;
  for (long g = 0; g < GenerationCount(); ++g) created.push_back(set_->CreationTime(g));
  frame_->GenerationBar()->Refresh(created);
  config_->AddRecentFile(info.absoluteFilePath());
  frame_->ShowRecentFiles(config_->RecentFiles());
  if (config_->OpenNewest()) frame_->GenerationBar()->ChooseGeneration(static_cast<int>(GenerationCount()) - 1);
  opened_ = true;
  frame_->SetOpened(true);
  frame_->SetDocumentTitle(info.fileName());
}

int32_t CQPXManagerApp::GetCaptionId() { return Text::kLoadingCaption; }

int32_t CQPXManagerApp::RunTask(CShowTaskProgressDlg&) {
  progress_.ClearError();
  progress_.ClearMessage();
  const IncrementalBackup::OpenDecision decision = IncrementalBackup::DecideOpen(opening_);
  verdict_ = decision.verdict;
  if (decision.verdict != IncrementalBackup::OpenVerdict::kLoad) return false;
  OnUserInterface([&] {
    ResetLoadedState();
    frame_->SetOpened(false);
    archivePath_ = QString::fromStdString(decision.archive);
    managementPath_ = QString::fromStdString(decision.management);
  });

  auto set = std::make_unique<IncrementalBackup::CBackupSet>(decision.archive);
  set->SetProgressInfo(&progress_);
  set->SetWording(QPXFile::Wording::kJapanese);
  loading_ = set.get();
  QPXFile::Problems problems;
  const bool loaded = set->Load(*this, problems);
  loading_ = nullptr;
  if (!loaded || progress_.HasError()) {
    // Whatever ended the load reaches us once, through the sink and the
    // problems made from it; the user's own "no" (140) needs no box, any
    // other end is told, so an open never ends without a word.
    if (progress_.HasError() && progress_.GetErrorId() == ManagerText::kLoadCancelled) return false;
    QStringList texts;
    for (const QPXFile::Problem& problem : problems) texts << QString::fromStdString(problem.message);
    if (texts.isEmpty() && progress_.HasError()) texts << AppText(progress_.GetErrorId());
    if (!texts.isEmpty()) OnUserInterface([text = texts.join(u'\n')] { ShowErrorText(text); });
    return false;
  }

  // The panes are widgets: they are filled by the user-interface thread.
  bool filled = false;
  OnUserInterface([&] {
    set_ = std::move(set);
    // The end of the load, where running out of memory is told.
    try {
      filled = FillFolderTree();
    } catch (const std::bad_alloc&) {
      ClearPanes();
      ShowErrorMessage(host::StringId::kOutOfMemory);
      return;
    }
    if (filled) TellLeftOutRecords();
  });
  return filled;
}

void CQPXManagerApp::TellLeftOutRecords() {
  const std::vector<std::u16string>& records = set_->Creator().GetLeftOutRecords();
  if (records.empty() || IsQuietMode()) return;
  // A crafted file may hold millions; the count says the rest.
  constexpr size_t kNamed = 10;
  QStringList lines;
  for (size_t i = 0; i < records.size() && i < kNamed; ++i)
    lines << ShownName(QString::fromStdU16String(records[i]));
  if (records.size() > kNamed) lines << QStringLiteral("…");
  QString text = FormatNumbers(AppText(Text::kLeftOutRecords), {static_cast<long long>(records.size())});
  text.replace(QStringLiteral("%s"), lines.join(u'\n'));
  QMessageBox box(QMessageBox::Warning, AppText(Text::kCaption), text, QMessageBox::Ok, MessageOwner());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool CQPXManagerApp::FillFolderTree() {
  CLeftView* tree = frame_->TreePane();
  CQPXManagerView* list = frame_->ListPane();
  dirTree_ = std::make_unique<IncrementalBackup::CDirTreeCtrl>(folderModel_, &set_->Creator());
  listModel_.SetTree(RestoreTreeAccess(&set_->Creator()));
  if (!dirTree_->Fill()) return false;
  tree->SelectFirstWhenNone();
  list->ShowFolder(tree->SelectedFolderPath());
  const QModelIndex first = folderModel_.index(0, 0);
  if (first.isValid()) {
    folderModel_.SortChildren(folderModel_.FolderOf(first));
    tree->expand(first);
  }
  frame_->GenerationBar()->SetNote(QString());
  return true;
}

bool CQPXManagerApp::SelectGeneration(int index) {
  if (!set_ || index < 0 || index >= GenerationCount()) return false;
  QPXFile::Problems problems;
  if (!set_->SelectGeneration(index + 1, problems, dirTree_.get())) {
    for (const QPXFile::Problem& problem : problems) ShowErrorText(QString::fromStdString(problem.message));
    return false;
  }
  // Whoever switched, the bar names what the panes show.
  frame_->GenerationBar()->ShowGeneration(index);
  CLeftView* tree = frame_->TreePane();
  tree->viewport()->update();
  const bool empty = folderModel_.rowCount() == 0;
  frame_->GenerationBar()->SetNote(empty ? QString::fromUtf8(CGenerationInputBar::kEmptyGenerationNote) : QString());
  tree->SelectFirstWhenNone();
  frame_->ListPane()->ShowFolder(tree->SelectedFolderPath());
  return true;
}

void CQPXManagerApp::OnOptions() {
  COptionDialog dialog(config_->TempFolder(), frame_.get());
  dialog.SetOpenNewest(config_->OpenNewest());
  if (dialog.exec() != QDialog::Accepted) return;
  config_->SetTempFolder(dialog.Folder());
  config_->SetOpenNewest(dialog.OpenNewest());
}

void CQPXManagerApp::ShowProperties(const QStringList& paths) {
  if (!set_) return;
  std::unique_ptr<PropertyDialogBase> dialog = MakePropertyDialog(set_->Creator(), paths, frame_.get());
  if (dialog) dialog->exec();
}

void CQPXManagerApp::RestoreEntries(const QString& folder, const QStringList& names) {
  CRestoreProgressDlg dialog(*this, SelectEntries(*this, folder, names), frame_.get());
  dialog.exec();
}

void CQPXManagerApp::RestoreFromGeneration(const QStringList& paths, long generation, QWidget* over) {
  IncrementalBackup::RestoreSelection selection;
  for (const QString& path : paths) {
    const qsizetype cut = path.lastIndexOf(u'\\');
    if (cut < 0) continue;
    for (auto& chosen : SelectEntries(*this, path.left(cut), {path.mid(cut + 1)}, generation))
      selection.push_back(std::move(chosen));
  }
  if (selection.empty()) return;
  CRestoreProgressDlg dialog(*this, std::move(selection), over);
  dialog.exec();
}

void CQPXManagerApp::ShowVersions(const QString& folder, const QString& name) {
  if (!set_ || set_->IsArchiveAlone()) return;
  // Each version comes from its own generation: the shown one stays.
  CVersionsDialog dialog(
      *set_, EntryPath(folder, name),
      [this, folder, name](long generation, QWidget*) {
        const TemporaryEntries entries = CaptureEntries(*this, folder, {name}, generation);
        if (!RunTemporaryRestore(*this, entries, true)) return;
        OpenWithDesktop(QDir(entries.copyFolder).filePath(name));
      },
      [this, folder, name](long generation, QWidget* over) {
        CRestoreProgressDlg progress(*this, SelectEntries(*this, folder, {name}, generation), over);
        progress.exec();
      },
      frame_.get());
  dialog.exec();
}

QWidget* CQPXManagerApp::Window() const { return frame_.get(); }

void CQPXManagerApp::OnUserInterface(const std::function<void()>& work) {
  if (dialog_ != nullptr) dialog_->RunOnUserInterface(work);
  else work();
}

void CQPXManagerApp::Notice(int32_t id) {
  OnUserInterface([id] {
    if (IsQuietMode()) return;
    QMessageBox box(QMessageBox::Question, AppText(Text::kCaption), AppText(id), QMessageBox::Ok | QMessageBox::Cancel,
                    MessageOwner());
    box.exec();
  });
}

bool CQPXManagerApp::AskYesNo(int32_t id) {
  bool yes = false;
  const QString text = loading_ != nullptr ? QString::fromStdString(loading_->QuestionText(id)) : AppText(id);
  OnUserInterface([&text, &yes] {
    QMessageBox box(QMessageBox::Question, AppText(Text::kCaption), text, QMessageBox::Yes | QMessageBox::No,
                    MessageOwner());
    yes = box.exec() == QMessageBox::Yes;
  });
  return yes;
}

bool CQPXManagerApp::AskShowEarlier(const IncrementalBackup::FailedArchive& failed) {
  if (loading_ == nullptr) return false;
  const QString text = QString::fromStdString(loading_->ShowEarlierQuestion(failed));
  bool yes = false;
  OnUserInterface([&text, &yes] {
    QMessageBox box(QMessageBox::Question, AppText(Text::kCaption), text, QMessageBox::Yes | QMessageBox::No,
                    MessageOwner());
    yes = box.exec() == QMessageBox::Yes;
  });
  return yes;
}

void CQPXManagerApp::ClearPanes() {
  // The model reads the set's tree, which may be released next.
  dirTree_.reset();
  folderModel_.Clear();
  listModel_.SetTree(RestoreTreeAccess());
  listModel_.ClearEntries();
  if (frame_ == nullptr) return;
  frame_->GenerationBar()->Clear();
}

void CQPXManagerApp::ResetLoadedState() {
  // Copied entries restore from this set; a paste after it is gone would
  // restore from another one, or from freed memory.
  DropCopiedFiles();
  ClearPanes();
  set_.reset();
  archivePath_.clear();
  managementPath_.clear();
}

void CQPXManagerApp::ReleaseLoadedState() {
  ResetLoadedState();
  opened_ = false;
}

}  // namespace app
