#pragma once

namespace tv2 {

// The counter menu the left view builds for a configuration the first time it
// becomes current. The window layer derives its menu from this; the
// configuration owns it and destroys it with itself.
class ConfigurationMenu {
 public:
  virtual ~ConfigurationMenu() = default;
};

}  // namespace tv2
