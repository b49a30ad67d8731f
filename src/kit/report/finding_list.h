// Adding findings to a report's list.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kit/report/report.h"

namespace kit {

inline void AddError(std::vector<Finding>& findings, std::string code, std::string path,
                     std::string message) {
  findings.push_back({std::move(code), "error", std::move(path), std::move(message)});
}

inline void AddWarning(std::vector<Finding>& findings, std::string code, std::string path,
                       std::string message) {
  findings.push_back({std::move(code), "warning", std::move(path), std::move(message)});
}

}  // namespace kit
