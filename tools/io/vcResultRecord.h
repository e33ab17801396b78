// One image's run as a plain record (JSON; the fields are listed in the README): what
// `flexalign run --json` prints a line of, what the teach page shows, and what the Python
// module's Result.to_dict(), ResultSet.to_dict() and batch records return. All of them come
// from here, so a program reading any of them reads the same fields and values.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/io/vcResultView.h"

nlohmann::json vfStatusRecord(const vcStatusView& s);
// `displacement`, when given: per instance, the longest deformation field vector over it.
nlohmann::json vfPartRecord(const vcPartView& p, const std::vector<double>* displacement = nullptr);
nlohmann::json vfRunRecord(const vcRunView& r);
// The record on one line, bytes that are not UTF-8 (a file name may hold any) replaced.
std::string vfRunRecordLine(const vcRunView& r);
