#include "handlers/form1_design.h"

#include "input/path_helpers.h"

namespace a5merge {

double FittedPoints(double points, const std::function<bool(double points)>& fitsAt) {
    while (points > 4.0 && !fitsAt(points)) points -= 0.25;
    return points;
}

std::string ZoneAccessibleName(Zone zone, const MergeState& state) {
    const bool top = zone == Zone::Top;
    const bool accepted = (top ? state.topOK : state.bottomOK) != 0;
    return std::string(top ? "TOP drop zone, " : "BOTTOM drop zone, ") +
           (accepted ? FileOnly(top ? state.topFile : state.bottomFile) : "no file");
}

}  // namespace a5merge
