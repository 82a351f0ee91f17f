#include "kel/ui/dialog_answers.h"

#include <deque>

namespace kel {

namespace {

struct State {
  bool armed = false;
  std::deque<std::string> queue;
  std::vector<TKELDialogRecord> records;
  std::function<void(const TKELDialogRecord&)> observer;
};

State& Answers() {
  static State state;
  return state;
}

}  // namespace

bool TKELDialogAnswers::Armed() { return Answers().armed; }

void TKELDialogAnswers::Arm(bool on) {
  State& state = Answers();
  state.armed = on;
  state.queue.clear();
  state.records.clear();
}

void TKELDialogAnswers::Push(std::string answer) { Answers().queue.push_back(std::move(answer)); }

size_t TKELDialogAnswers::Pending() { return Answers().queue.size(); }

std::optional<std::string> TKELDialogAnswers::Take() {
  State& state = Answers();
  if (!state.armed || state.queue.empty()) return std::nullopt;
  std::string answer = std::move(state.queue.front());
  state.queue.pop_front();
  return answer;
}

void TKELDialogAnswers::Record(TKELDialogRecord record) {
  State& state = Answers();
  if (state.observer) state.observer(record);
  state.records.push_back(std::move(record));
}

const std::vector<TKELDialogRecord>& TKELDialogAnswers::Records() { return Answers().records; }

void TKELDialogAnswers::SetObserver(std::function<void(const TKELDialogRecord&)> observer) {
  Answers().observer = std::move(observer);
}

}  // namespace kel
