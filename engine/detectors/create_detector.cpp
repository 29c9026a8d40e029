#include "create_detector.h"

#include "family_detectors.h"
#include "plugins_section.h"
#include "process_inspector.h"

#include <new>

namespace tolvane {
namespace {

using Condition = DetectorPlan::Condition;

constexpr int kBo2kType = 9;

bool ConditionHolds(const DetectorPlan& plan, HANDLE file) {
    switch (plan.condition) {
    case Condition::None:
        return true;
    case Condition::MinimumSize:
        return FileSizeAtLeast(file, plan.minimumSize);
    case Condition::PluginsSection:
        return FileHasPluginsSection(file);
    }
    return false;
}

std::unique_ptr<TrojanDetector> MakeDetector(int type, const char* path, DWORD processId) {
    switch (type) {
    case 0: return std::make_unique<BackOrificeDetector>(path, processId, type);
    case 1: return std::make_unique<NetBusDetector>(path, processId, type);
    case 4: return std::make_unique<DeepThroatDetector>(path, processId, type);
    case 6:
    case 7: return std::make_unique<RunValueDetector>(path, processId, type);
    case 8: return std::make_unique<PrettyParkDetector>(path, processId, type);
    case 10: return std::make_unique<SubSevenDetector>(path, processId, type);
    case 11: return std::make_unique<AttackFtpDetector>(path, processId, type);
    default: return std::make_unique<BackOrifice2kDetector>(path, processId, kBo2kType);
    }
}

DWORD FindProcessOf(const char* path, const DetectorContext& context) {
    if (context.inspector) return context.inspector->FindProcessId(path);
    return ProcessInspector().FindProcessId(path);
}

}  // namespace

DetectorPlan PlanDetector(DWORD typeIndex) {
    switch (typeIndex) {
    case 0: return {Condition::MinimumSize, 60000, 0};
    case 1: return {Condition::MinimumSize, 350000, 1};
    case 4: return {Condition::MinimumSize, 100000, 4};
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11: return {Condition::None, 0, static_cast<int>(typeIndex)};
    default: return {Condition::PluginsSection, 0, kBo2kType};
    }
}

DetectorOutcome CreateDetector(DWORD typeIndex, HANDLE file, const char* path, DetectorList& detectors,
                               const DetectorContext& context) {
    DetectorPlan plan = PlanDetector(typeIndex);
    if (!ConditionHolds(plan, file)) return DetectorOutcome::NotDue;
    try {
        auto detector = MakeDetector(plan.detectorType, path, FindProcessOf(path, context));
        detectors.push_front(std::move(detector));
    } catch (const std::bad_alloc&) {
        return DetectorOutcome::NoMemory;
    }
    return DetectorOutcome::Created;
}

}  // namespace tolvane
