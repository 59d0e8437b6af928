// One allocation trial per format for check_allocation.cpp: the instance's
// construction, and the editor's open, with allocation `failAt` failing (0:
// none fails). Each runs in a child of its own and passes with "ALLOCATIONS
// A B" as its figure: the count, and two outcomes the check adds up.
#pragma once

#include <string>

namespace kv::validate {

// create_plugin and init; A: no instance, B: init refused.
std::string clapConstructionTrial(const std::string& path, const std::string& id, long failAt);
// gui.create and set_parent; A: refused, B: opened anyway.
std::string clapEditorOpenTrial(const std::string& path, const std::string& id, long failAt);
// The factory's create_instance and initialize; A: no instance, B: refused.
std::string vst3ConstructionTrial(const std::string& path, long failAt);
// create_view and attached; A: refused, B: opened anyway.
std::string vst3EditorOpenTrial(const std::string& path, long failAt);

}  // namespace kv::validate
