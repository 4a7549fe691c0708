#include "platform/ui.h"

#include <cstdint>
#include <limits>

namespace finprep {

void ProgressBar::SetTotalParts(std::int64_t total) {
  total_ = total < 0 ? 0 : total;
  Recount();
}

void ProgressBar::SetPartsComplete(std::int64_t done) {
  done_ = done < 0 ? 0 : done;
  Recount();
}

void ProgressBar::SetPercent(int percent) {
  percent_ = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
  Update(100, percent_);
}

void ProgressBar::Recount() {
  const std::int64_t done = done_ < total_ ? done_ : total_;
  if (total_ == 0) {
    percent_ = 0;
  } else if (total_ <= std::numeric_limits<std::int64_t>::max() / 100) {
    percent_ = static_cast<int>(done * 100 / total_);
  } else {
    percent_ = static_cast<int>(done / (total_ / 100));
  }
  // Shift both counts right until the total fits a signed 32-bit control range.
  int shift = 0;
  while ((total_ >> shift) > std::numeric_limits<std::int32_t>::max())
    ++shift;
  Update(static_cast<std::int32_t>(total_ >> shift), static_cast<std::int32_t>(done >> shift));
}

void ProgressBar::Update(std::int32_t range, std::int32_t position) {
  shown_range_ = range;
  shown_position_ = position;
  Show(range, position);
}

void PressButton(Button& button, ModalWindow& window, Application& application) {
  if (button.modal_result != kModalNone) window.SetModalResult(button.modal_result);
  if (!button.OnClick) return;
  try {
    button.OnClick();
  } catch (const std::exception& error) {
    application.ShowException(error);
  }
}

}  // namespace finprep
