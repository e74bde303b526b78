#pragma once

namespace qs {

// The three pending pools of a session, one per msgpool column.
enum class pool_kind { personal, group, custom };

} // namespace qs
