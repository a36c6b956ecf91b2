#include "workflows/workflow_state.h"

namespace vantrel::workflows {

WorkflowState& workflowState() {
    static WorkflowState state;
    return state;
}

} // namespace vantrel::workflows
