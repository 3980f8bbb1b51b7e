#include "app/generation_input_bar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "app/app_texts.h"
#include "app/time_text.h"

namespace app {

CMaskEdit::CMaskEdit(QWidget* parent) : QLineEdit(parent) {}

void CMaskEdit::SetCharacters(const QString& characters, bool maskEnabled) {
  characters_ = characters;
  maskEnabled_ = maskEnabled;
}

bool CMaskEdit::Passes(QChar c, const QString& characters, bool maskEnabled) {
  if (maskEnabled) return c.unicode() <= 0x5B || (!characters.isEmpty() && characters.contains(c));
  return !characters.contains(c);
}

void CMaskEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  for (QChar c : text) {
    if (c.isPrint() && !Passes(c)) {
      event->accept();
      return;
    }
  }
  QLineEdit::keyPressEvent(event);
}

void CMaskEdit::inputMethodEvent(QInputMethodEvent* event) {
  QString kept;
  for (QChar c : event->commitString())
    if (Passes(c)) kept += c;
  if (kept == event->commitString()) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  QInputMethodEvent filtered(event->preeditString(), event->attributes());
  filtered.setCommitString(kept, event->replacementStart(), event->replacementLength());
  QLineEdit::inputMethodEvent(&filtered);
}

CGenerationInputBar::CGenerationInputBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("generationBar"));
  auto* label = new QLabel(QStringLiteral("世代"), this);
  range_ = new QLabel(this);
  range_->setObjectName(QStringLiteral("generationRange"));
  combo_ = new QComboBox(this);
  combo_->setObjectName(QStringLiteral("generationCombo"));
  combo_->setAccessibleName(QStringLiteral("世代"));
  combo_->setMinimumContentsLength(20);
  combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  label->setBuddy(combo_);
  restore_ = new QPushButton(QStringLiteral("復元"), this);
  restore_->setObjectName(QStringLiteral("restoreButton"));
  restore_->setAccessibleName(QStringLiteral("復元"));
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("generationNote"));
  number_ = new CMaskEdit(this);
  number_->hide();

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->addWidget(label);
  layout->addWidget(combo_);
  layout->addWidget(range_);
  layout->addSpacing(12);
  layout->addWidget(restore_);
  layout->addSpacing(12);
  layout->addWidget(note_, 1);

  // Item i is generation i + 1; Home and End choose the oldest and the
  // newest, as in any list.
  connect(combo_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!filling_ && index >= 0) emit GenerationChosen(index);
  });
  connect(restore_, &QPushButton::clicked, this, &CGenerationInputBar::RestoreClicked);
  Clear();
}

QString CGenerationInputBar::ItemText(int index, uint64_t creationTime) {
  const QString when = CreationTimeText(creationTime);
  return QString::number(index + 1) + (when.isEmpty() ? QString() : QStringLiteral("  ") + when);
}

void CGenerationInputBar::Refresh(const std::vector<uint64_t>& creationTimes) {
  const int count = static_cast<int>(creationTimes.size());
  range_->setText(AppText(Text::kGenerationRange).replace(QStringLiteral("%d"), QString::number(count)));
  number_->SetCharacters(AppText(Text::kDigits), true);
  number_->setText(QStringLiteral("1"));
  filling_ = true;
  combo_->clear();
  for (int i = 0; i < count; ++i) combo_->addItem(ItemText(i, creationTimes[static_cast<size_t>(i)]));
  combo_->setCurrentIndex(count > 0 ? 0 : -1);
  filling_ = false;
  combo_->setEnabled(count > 0);
}

void CGenerationInputBar::ChooseGeneration(int index) {
  if (index >= 0 && index < combo_->count()) combo_->setCurrentIndex(index);
}

void CGenerationInputBar::ShowGeneration(int index) {
  if (index < 0 || index >= combo_->count() || index == combo_->currentIndex()) return;
  filling_ = true;
  combo_->setCurrentIndex(index);
  filling_ = false;
}

void CGenerationInputBar::Clear() {
  filling_ = true;
  combo_->clear();
  filling_ = false;
  combo_->setEnabled(false);
  range_->clear();
  note_->clear();
  restore_->setEnabled(false);
}

void CGenerationInputBar::SetNote(const QString& note) { note_->setText(note); }

void CGenerationInputBar::SetRestoreEnabled(bool enabled) { restore_->setEnabled(enabled); }

}  // namespace app
