#pragma once
// A real nginx on 127.0.0.1 for the throttling tests.

namespace quillax::test {} // namespace quillax::test
