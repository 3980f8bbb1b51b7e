#include "app/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <algorithm>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QDragEnterEvent>
#include <QLabel>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QUrl>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/about_dlg.h"
#include "app/app_config.h"
#include "app/app_texts.h"
#include "app/compare_dialog.h"
#include "app/integrity_test_dialog.h"
#include "app/desktop_integration.h"
#include "app/file_icons.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/qpx_data_object.h"
#include "app/qpx_manager_view.h"
#include "app/search_pane.h"
#include "app/shown_name.h"
#include "generations/backup_set.h"

namespace app {
namespace {

constexpr char kRootDriveRefused[] = "ルートドライブを直接復元することはできません";

// Fixed in the program, not in the string table.
constexpr char kShortcutFailed[] = "ショートカットの作成に失敗しました。";

}  // namespace

CMainFrame::CMainFrame(IFrameOwner& owner) : owner_(owner) {
  setObjectName(QStringLiteral("mainFrame"));
  setWindowIcon(FileIcons::Instance().Application());
  auto* central = new QWidget(this);
  bar_ = new CGenerationInputBar(central);
  splitter_ = new QSplitter(Qt::Horizontal, central);
  splitter_->setObjectName(QStringLiteral("panes"));
  tree_ = new CLeftView(splitter_);
  list_ = new CQPXManagerView(splitter_);
  splitter_->addWidget(tree_);
  splitter_->addWidget(list_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({220, 580});
  splitter_->setChildrenCollapsible(false);

  search_ = new CSearchPane(owner_, *this, central);

  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* top = new QHBoxLayout;
  top->addWidget(bar_, 1);
  top->addWidget(search_->Field());
  top->addSpacing(6);
  layout->addLayout(top);
  layout->addWidget(splitter_, 1);
  layout->addWidget(search_);
  setCentralWidget(central);

  BuildMenus();
  folderStatus_ = new QLabel(this);
  folderStatus_->setObjectName(QStringLiteral("folderStatus"));
  folderStatus_->setAccessibleName(QStringLiteral("フォルダの内容"));
  selectionStatus_ = new QLabel(this);
  selectionStatus_->setObjectName(QStringLiteral("selectionStatus"));
  selectionStatus_->setAccessibleName(QStringLiteral("選択"));
  statusBar()->addWidget(folderStatus_);
  statusBar()->addWidget(selectionStatus_, 1);
  connect(list_, &CQPXManagerView::StatusChanged, this, &CMainFrame::UpdateStatus);
  connect(list_, &CQPXManagerView::StatusChanged, this, &CMainFrame::UpdateVersionsAction);
  tree_->SetContextMenu(BuildContextMenu(true));
  list_->SetContextMenu(BuildContextMenu(false));

  connect(tree_, &CLeftView::FolderShown, this, [this](const QString& path) {
    list_->ShowFolder(path);
    if (!path.isEmpty()) owner_.SetCurrentFolder(path);
  });
  connect(list_, &CQPXManagerView::FolderOpened, this, [this](const QString& path) { tree_->SelectFolder(path); });
  connect(list_, &CQPXManagerView::RestoreRequested, this, &CMainFrame::RestoreListSelection);
  setAcceptDrops(true);
  connect(bar_, &CGenerationInputBar::GenerationChosen, this, [this](int index) { owner_.SelectGeneration(index); });
  connect(bar_, &CGenerationInputBar::RestoreClicked, this, &CMainFrame::OnRestore);
  // The restore command acts on the pane the user worked in last.
  focusWatch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now == tree_ || now == list_) treeActive_ = now == tree_;
  });

  resize(820, 560);
  SetDocumentTitle(QString());
  SetOpened(false);
}

CMainFrame::~CMainFrame() { disconnect(focusWatch_); }

void CMainFrame::BuildMenus() {
  QMenu* file = fileMenu_ = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  open_ = file->addAction(QStringLiteral("開く..."), QKeySequence(Qt::CTRL | Qt::Key_O), this, [this] { owner_.OnFileOpen(); });
  file->addSeparator();
  recentEnd_ = file->addSeparator();
  recentEnd_->setVisible(false);
  file->addAction(QStringLiteral("終了(&X)"), this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
  selectAll_ = edit->addAction(QStringLiteral("全て選択"), QKeySequence(Qt::CTRL | Qt::Key_A), this, [this] {
    list_->SelectAll();
    list_->setFocus();
  });
  // The list's selection, as 全て選択 selects in the list.
  copy_ = edit->addAction(QStringLiteral("コピー(&C)"), QKeySequence::Copy, this, [this] { list_->CopySelection(); });
  restore_ = edit->addAction(QStringLiteral("復元"), this, &CMainFrame::OnRestore);
  restore_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  versions_ = edit->addAction(QStringLiteral("バージョン履歴(&V)..."), this, &CMainFrame::ShowVersions);
  versions_->setEnabled(false);

  QMenu* view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
  auto* modes = new QActionGroup(this);
  auto addMode = [&](const QString& text, CQPXManagerView::Mode mode) {
    QAction* action = view->addAction(text, QKeySequence(Qt::CTRL | (Qt::Key_1 + static_cast<int>(mode))), this, [this, mode] {
      list_->SetViewMode(mode);
      list_->setFocus();
    });
    action->setCheckable(true);
    modes->addAction(action);
    return action;
  };
  large_ = addMode(QStringLiteral("大きいアイコン(&B)"), CQPXManagerView::Mode::LargeIcons);
  small_ = addMode(QStringLiteral("小さいアイコン(&S)"), CQPXManagerView::Mode::SmallIcons);
  listView_ = addMode(QStringLiteral("一覧(&L)"), CQPXManagerView::Mode::List);
  details_ = addMode(QStringLiteral("詳細(&D)"), CQPXManagerView::Mode::Details);
  // The keyboard's way to what a click on a column header does.
  view->addSeparator();
  QMenu* order = view->addMenu(QStringLiteral("並べ替え(&O)"));
  const char* keys[] = {"N", "Z", "M", "T", "A"};
  for (int column = 0; column < FileListModel::kColumnCount; ++column)
    order->addAction(FileListModel::ColumnTitle(column) + QStringLiteral("(&%1)").arg(QLatin1String(keys[column])), this,
                     [this, column] { list_->SortBy(column); });
  order->addAction(QStringLiteral("元の順序(&U)"), this, [this] { list_->SortBy(-1); });
  large_->setChecked(true);

  QMenu* tools = menuBar()->addMenu(QStringLiteral("ツール(&T)"));
  integrityTest_ = tools->addAction(QStringLiteral("整合性テスト(&T)..."), this, [this] {
    if (owner_.Set() == nullptr) return;
    CIntegrityTestDialog dialog(*owner_.Set(), this);
    dialog.exec();
  });
  compare_ = tools->addAction(QStringLiteral("世代の比較(&C)..."), this, [this] {
    if (owner_.Set() == nullptr) return;
    CCompareDialog dialog(*owner_.Set(), this, [this](long generation, const QStringList& paths, QWidget* over) {
      owner_.RestoreFromGeneration(paths, generation, over);
    });
    dialog.exec();
  });
  integrityTest_->setEnabled(false);
  compare_->setEnabled(false);
  tools->addSeparator();
  shortcut_ = tools->addAction(QStringLiteral("ショートカットを作成 (&S)"), this, [this] { OnCreateShortcut(); });
  options_ = tools->addAction(QStringLiteral("オプション (&O)"), this, [this] { owner_.OnOptions(); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  help_ = help->addAction(QStringLiteral("Tesseraのヘルプ(&H)"), this, [this] { OnHelp(); });
  about_ = help->addAction(QStringLiteral("バージョン情報 (&A)..."), this, [this] {
    CAboutDlg about(this);
    about.exec();
  });

  auto* next = new QAction(this);
  next->setShortcut(QKeySequence(Qt::Key_F6));
  connect(next, &QAction::triggered, this, [this] { NextPane(true); });
  auto* previous = new QAction(this);
  previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
  connect(previous, &QAction::triggered, this, [this] { NextPane(false); });
  addActions({next, previous});
}

QMenu* CMainFrame::BuildContextMenu(bool forTree) {
  auto* menu = new QMenu(this);
  if (forTree) {
    menu->addAction(QStringLiteral("開く(&O)"), this, [this] { tree_->expand(tree_->currentIndex()); });
  } else {
    menu->addAction(QStringLiteral("開く(&O)"), this, [this] { list_->OpenSelection(); });
    menu->addAction(copy_);
  }
  QAction* restore = menu->addAction(QStringLiteral("復元(&R)"), this,
                                     [this, forTree] { forTree ? RestoreTreeFolder() : RestoreListSelection(); });
  restore->setObjectName(QStringLiteral("restore"));
  (forTree ? treeRestore_ : listRestore_) = restore;
  if (!forTree) menu->addAction(versions_);
  QAction* properties = menu->addAction(QStringLiteral("プロパティ(&P)"), this, [this, forTree] {
    QStringList paths;
    if (forTree) {
      if (!tree_->SelectedFolderPath().isEmpty()) paths << tree_->SelectedFolderPath();
    } else {
      for (const QString& name : list_->SelectedNames()) paths << list_->CurrentFolder() + u'\\' + name;
    }
    owner_.ShowProperties(paths);
  });
  // Alt+Enter in a pane, as on the desktops users come from.
  properties->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Return));
  properties->setShortcutContext(Qt::WidgetShortcut);
  if (forTree) tree_->addAction(properties);
  else list_->addAction(properties);
  menu->setToolTipsVisible(true);
  return menu;
}

QList<QAction*> CMainFrame::RecentFileActions() const {
  QList<QAction*> recent;
  for (QAction* action : fileMenu_->actions()) {
    if (action == recentEnd_) break;
    if (action->property("recentPath").isValid()) recent << action;
  }
  return recent;
}

void CMainFrame::ShowRecentFiles(const QStringList& paths) {
  for (QAction* action : RecentFileActions()) {
    fileMenu_->removeAction(action);
    action->deleteLater();
  }
  for (qsizetype i = 0; i < paths.size(); ++i) {
    // "&1 name": the number chooses it from the keyboard; the path is the tooltip.
    const QString name = QFileInfo(paths[i]).fileName().replace(u'&', QStringLiteral("&&"));
    auto* action = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(ShownName(name)), fileMenu_);
    action->setProperty("recentPath", paths[i]);
    action->setToolTip(paths[i]);
    connect(action, &QAction::triggered, this, [this, path = paths[i]] { owner_.OpenBackupFile(path); });
    fileMenu_->insertAction(recentEnd_, action);
  }
  recentEnd_->setVisible(!paths.isEmpty());
}

void CMainFrame::ApplySettings(const CAppConfig& config) {
  list_->SetColumnWidths(config.ColumnWidths());
  QAction* modes[] = {large_, small_, listView_, details_};
  const int mode = std::clamp(config.ViewMode(), 0, 3);
  modes[mode]->setChecked(true);
  list_->SetViewMode(static_cast<CQPXManagerView::Mode>(mode));
  ShowRecentFiles(config.RecentFiles());
}

void CMainFrame::StoreSettings(CAppConfig& config) const {
  config.SetViewMode(static_cast<int>(list_->GetViewMode()));
  if (list_->ColumnsResized()) config.SetColumnWidths(list_->ColumnWidths());
}

void CMainFrame::UpdateStatus() {
  const bool shown = owner_.IsOpened() || list_->model()->rowCount() > 0;
  folderStatus_->setText(shown ? list_->FolderStatusText() : QString());
  selectionStatus_->setText(list_->SelectionStatusText());
}

void CMainFrame::OnHelp() {
  // A missing help file is the browser's to report.
  QDesktopServices::openUrl(QUrl::fromLocalFile(HelpFilePath(QCoreApplication::applicationDirPath())));
}

void CMainFrame::OnCreateShortcut() {
  QMessageBox question(QMessageBox::Question, AppText(Text::kCaption), AppText(Text::kShortcutQuestion),
                       QMessageBox::Yes | QMessageBox::No, this);
  if (question.exec() != QMessageBox::Yes) return;
  if (!WriteDesktopLauncher(DesktopFolder(), QCoreApplication::applicationFilePath()))
    ShowErrorText(QString::fromUtf8(kShortcutFailed));
}

void CMainFrame::NextPane(bool) {
  // Two panes: the next and the previous pane are the same, the other one.
  if (tree_->hasFocus()) list_->setFocus(Qt::TabFocusReason);
  else tree_->setFocus(Qt::TabFocusReason);
}

void CMainFrame::SetDocumentTitle(const QString& fileName) {
  const QString suffix = AppText(Text::kTitleSuffix);
  setWindowTitle(fileName.isEmpty() ? suffix : ShownName(fileName) + QStringLiteral(" - ") + suffix);
}

void CMainFrame::SetOpened(bool opened) {
  bar_->SetRestoreEnabled(opened);
  restore_->setEnabled(opened);
  copy_->setEnabled(opened);
  integrityTest_->setEnabled(opened);
  search_->SetOpened(opened);
  compare_->setEnabled(opened);
  UpdateVersionsAction();
  if (treeRestore_ != nullptr) treeRestore_->setEnabled(opened);
  if (listRestore_ != nullptr) listRestore_->setEnabled(opened);
}

void CMainFrame::OnRestore() {
  // The window's focus child is the pane in use even while another window
  // is active; a click on the bar's button leaves it with the button.
  if (focusWidget() == tree_ || focusWidget() == list_) treeActive_ = focusWidget() == tree_;
  if (treeActive_) RestoreTreeFolder();
  else RestoreListSelection();
}

void CMainFrame::RestoreTreeFolder() {
  if (!owner_.IsOpened()) return;
  const QString path = tree_->SelectedFolderPath();
  if (path.isEmpty()) return;
  // A whole drive of the backed-up computer is not restored as one folder.
  const qsizetype cut = path.lastIndexOf(u'\\');
  if (cut < 0 || cut == path.size() - 1) {
    ShowErrorText(QString::fromUtf8(kRootDriveRefused));
    return;
  }
  // The folder itself is recreated below the target: its parent is the base.
  owner_.RestoreEntries(path.left(cut), {path.mid(cut + 1)});
  owner_.SetCurrentFolder(path);
}

void CMainFrame::UpdateVersionsAction() {
  // The versions are a set's: an archive opened alone has one generation.
  const IncrementalBackup::CBackupSet* set = owner_.Set();
  versions_->setEnabled(set != nullptr && !set->IsArchiveAlone() && !list_->SelectedFile().isEmpty());
}

void CMainFrame::ShowVersions() {
  const QString name = list_->SelectedFile();
  if (!owner_.IsOpened() || name.isEmpty()) return;
  owner_.ShowVersions(list_->CurrentFolder(), name);
}

void CMainFrame::RestoreListSelection() {
  if (!owner_.IsOpened()) return;
  const QStringList names = list_->SelectedNames();
  if (names.isEmpty()) return;
  const QString folder = list_->CurrentFolder();
  owner_.SetCurrentFolder(folder);
  owner_.RestoreEntries(folder, names);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  owner_.ReleaseLoadedState();
  QMainWindow::closeEvent(event);
}

void CMainFrame::AnswerDrag(QDragMoveEvent* event) {
  const bool own = list_->IsDragging() || qobject_cast<const CQPXDataObject*>(event->mimeData()) != nullptr;
  if (own || !event->mimeData()->hasUrls()) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) { AnswerDrag(event); }

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) { AnswerDrag(event); }

void CMainFrame::dragLeaveEvent(QDragLeaveEvent*) { update(); }

void CMainFrame::dropEvent(QDropEvent* event) {
  update();
  event->setDropAction(Qt::IgnoreAction);
  event->ignore();
}

}  // namespace app
