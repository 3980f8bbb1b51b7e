// The generation bar above the panes: the generation of an incremental
// backup to show, its range, the restore button and a note for a generation
// without files.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <cstdint>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

namespace app {

// An edit that drops typed characters by a character list.
class CMaskEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit CMaskEdit(QWidget* parent = nullptr);

  void SetCharacters(const QString& characters, bool maskEnabled);
  // Mask on: characters up to "[" pass, others only when listed. Mask off:
  // listed characters are dropped, others pass.
  static bool Passes(QChar c, const QString& characters, bool maskEnabled);
  bool Passes(QChar c) const { return Passes(c, characters_, maskEnabled_); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  QString characters_;
  bool maskEnabled_ = true;
};

class CGenerationInputBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr char kEmptyGenerationNote[] = "※この世代にはバックアップされたファイルがありません。";

  explicit CGenerationInputBar(QWidget* parent = nullptr);

  // After an open: the range text for as many generations as there are
  // creation times, and the combo "1  2019/04/19 18:40" (number, two
  // spaces, the archive's creation time) for each, the first selected.
  void Refresh(const std::vector<uint64_t>& creationTimes);
  // The combo item of one generation (0-based); a time of 0 shows the number alone.
  static QString ItemText(int index, uint64_t creationTime);
  // Selects generation `index` (0-based) as the user would.
  void ChooseGeneration(int index);
  // Shows generation `index` (0-based) chosen elsewhere, announcing nothing.
  void ShowGeneration(int index);
  // Before any open, and after a failed one.
  void Clear();
  void SetNote(const QString& note);
  void SetRestoreEnabled(bool enabled);

  QComboBox* Combo() const { return combo_; }
  QLabel* RangeLabel() const { return range_; }
  QLabel* NoteLabel() const { return note_; }
  QPushButton* RestoreButton() const { return restore_; }
  CMaskEdit* NumberEdit() const { return number_; }

 signals:
  // The user chose generation `index` (0-based).
  void GenerationChosen(int index);
  void RestoreClicked();

 private:
  QLabel* range_;
  QComboBox* combo_;
  QPushButton* restore_;
  QLabel* note_;
  CMaskEdit* number_;  // kept hidden, as in the Windows bar
  bool filling_ = false;
};

}  // namespace app
