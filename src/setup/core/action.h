// Actions: the steps of an installation or uninstallation, run one after
// another on the worker thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kel {
class TKELIniFile;
}

namespace setup {

class TSetup;
class TSetupResources;
class TSetupScript;
class TSetupScriptFile;
class TSetupProductInfo;
class TSetupSummaryBuilder;

// Common base of actions and update tasks: access to the parts of the
// process-wide session.
class TSetupPersistent {
 public:
  virtual ~TSetupPersistent() = default;

 protected:
  static TSetup& Session();
  static TSetupProductInfo& Product();
  static TSetupResources& Resources();
  static kel::TKELIniFile& Settings();
  static TSetupScript& Script();
};

class TSetupAction : public TSetupPersistent {
 public:
  using TProgressEvent = std::function<void(TSetupAction&)>;

  // The action's work, on the worker thread.
  virtual void Execute() = 0;
  // Adds the action's lines to the ready-to-install summary; runs on the
  // user-interface thread on a fresh instance.
  virtual void Summarize(TSetupSummaryBuilder& builder);
  // Asked on the user-interface thread, under the worker's lock, when the
  // worker is being stopped.
  virtual void Cancel() {}

  // Execute, then SetProgress(100).
  void Run();
  int Progress() const { return progress_; }
  void SetProgress(int percent);
  TProgressEvent OnProgress;

 protected:
  void ReportStatus(const std::string& text);
  std::string GetText(std::string_view section, std::string_view key);
  std::string GetCommonText(std::string_view key);
  void ExtractFile(const TSetupScriptFile& item);
  // Creates the folder with its parents; fails with [Common] E3.
  void ForceFolder(const std::string& path);

 private:
  int progress_ = 0;
};

// An action class: its name and its constructor, so that product
// descriptions can list classes and the engine creates the objects.
struct TSetupActionClass {
  std::string_view name;
  std::unique_ptr<TSetupAction> (*create)();

  template <typename Action>
  static TSetupActionClass Of(std::string_view name) {
    return {name, [] { return std::unique_ptr<TSetupAction>(std::make_unique<Action>()); }};
  }
};

// Owning list of actions.
class TSetupActionList {
 public:
  void Add(std::unique_ptr<TSetupAction> action) { actions_.push_back(std::move(action)); }
  size_t Count() const { return actions_.size(); }
  TSetupAction& operator[](size_t index) { return *actions_[index]; }
  // Integer average of the actions' progress; 0 for an empty list.
  int Progress() const;

 private:
  std::vector<std::unique_ptr<TSetupAction>> actions_;
};

}  // namespace setup
