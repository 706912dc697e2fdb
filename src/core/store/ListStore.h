#pragma once

namespace quillax {} // namespace quillax
