#pragma once
// The fixture of the tests that drive the real scripting object (SpoolToolObject) in this
// process: the object runs postvane-spool as a child, which inherits this process's
// environment, and waits for it in an event loop, which needs an application object.
#include <QCoreApplication>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service_fixture.h"

namespace pv::test {

// Sets an environment variable for the life of the object.
class EnvVar {
 public:
  EnvVar(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvVar() {
    if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
    else ::unsetenv(name_.c_str());
  }
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Every variable of env, set until the object goes.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const Environment& env) {
    for (const auto& [name, value] : env) vars_.push_back(std::make_unique<EnvVar>(name.c_str(), value));
  }

 private:
  std::vector<std::unique_ptr<EnvVar>> vars_;
};

}  // namespace pv::test

namespace pv {

class ToolObjectTest : public ServiceTest {
 protected:
  static void SetUpTestSuite() { app_ = std::make_unique<QCoreApplication>(argc_, argv_); }
  static void TearDownTestSuite() { app_.reset(); }

  static inline int argc_ = 1;
  static inline char name_[] = "integration_tests";
  static inline char* argv_[] = {name_, nullptr};
  static inline std::unique_ptr<QCoreApplication> app_;
};

}  // namespace pv
