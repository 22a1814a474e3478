// The kept terms of records that no evaluator owns.
#include "models/memo.h"

namespace kx {

MemoLink::MemoLink() = default;
MemoLink::MemoLink(const MemoLink& /*other*/) noexcept {}
MemoLink::~MemoLink() = default;

ModelMemo& MemoLink::own() {
  if (!own_) own_ = std::make_unique<ModelMemo>();
  return *own_;
}

}  // namespace kx
