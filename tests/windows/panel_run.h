// Where and for how long kv23w shows a plug-in's panel, as its gui and
// clapgui commands take them: --seconds S, --at X Y.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace kvtest {

struct PanelRun {
    double seconds = 10.0;
    int x = 0;
    int y = 0;
};

// Takes args[i] (and the values after it) when it is one of those options;
// false for anything else.
inline bool takePanelRunOption(const std::vector<std::string>& args, size_t& i, PanelRun& run) {
    if (args[i] == "--seconds" && i + 1 < args.size()) {
        run.seconds = std::atof(args[++i].c_str());
        return true;
    }
    if (args[i] == "--at" && i + 2 < args.size()) {
        run.x = std::atoi(args[++i].c_str());
        run.y = std::atoi(args[++i].c_str());
        return true;
    }
    return false;
}

}  // namespace kvtest
