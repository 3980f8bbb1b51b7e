// The items of the folder tree pane: one top-level item per backed-up drive
// and the folders below, each item a name in a plain item tree that the
// folder-tree adapter grows and prunes as generations are switched. Items
// keep the order in which they were added, so a folder that returns in a
// later generation is appended to its parent as the Windows tree did.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <memory>
#include <unordered_set>
#include <vector>

namespace app {

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  enum class Kind { Drive, Folder, File };

  struct Item {
    QString name;
    Kind kind = Kind::Folder;
    Item* parent = nullptr;
    int row = 0;
    std::vector<std::unique_ptr<Item>> children;
  };

  explicit FolderTreeModel(QObject* parent = nullptr);
  ~FolderTreeModel() override;

  // The invisible item above the top-level items.
  Item* Root() { return &root_; }
  const Item* Root() const { return &root_; }
  // A new last child of `parent`.
  Item* Append(Item* parent, const QString& name, Kind kind);
  // Removes the item with everything below it.
  void Remove(Item* item);
  void Clear();
  // Sorts one level of children by name (letter case aside), not below.
  void SortChildren(Item* parent);
  // The child of `parent` with this name, letter case aside; null if none.
  static Item* Child(const Item* parent, const QString& name);

  // While bulk changes run, views are told once at the end.
  void BeginBulk();
  void EndBulk();
  // While a batch runs, items come and go without a word to the views; at
  // its end they hear one layout change and keep what they hold (expanded
  // items, the selection) by item, losing only what went away. A view over
  // thousands of expanded items redoes its rows once, not once per change.
  void BeginLayoutBatch();
  void EndLayoutBatch();

  // The texts from the top-level item down to `item`, joined with "\".
  static QString PathOf(const Item* item);

  QModelIndex IndexOf(const Item* item) const;
  Item* ItemOf(const QModelIndex& index) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  bool Quiet() const { return bulk_ > 0 || batch_ > 0; }

  Item root_;
  int bulk_ = 0;
  int batch_ = 0;
  // The views' persistent indexes when the batch began, with their items,
  // and the items removed since (compared by address, never followed).
  QModelIndexList batchIndexes_;
  std::vector<const Item*> batchItems_;
  std::unordered_set<const Item*> batchRemoved_;
};

}  // namespace app
