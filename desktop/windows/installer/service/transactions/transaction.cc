#include "desktop/windows/installer/service/transactions/transaction.h"

#include <algorithm>
#include <utility>

namespace installer {

Transaction::Transaction() = default;

Transaction::~Transaction() {
  DestroyOperations();
}

bool Transaction::Execute(std::unique_ptr<TransactionOperation> operation) {
  Transaction nested;
  if (!operation->Do(nested)) {
    operation->Rollback();
    nested.Rollback();
    operation.reset();
    return false;
  }
  // The preparations stand just before the operation, so a rollback undoes the
  // operation first and a commit finalises the preparations first.
  for (auto& preparation : nested.operations_)
    operations_.push_back(std::move(preparation));
  nested.operations_.clear();
  operations_.push_back(std::move(operation));
  return true;
}

bool Transaction::ExecuteCommittedLast(std::unique_ptr<TransactionOperation> operation) {
  const TransactionOperation* last = operation.get();
  if (!Execute(std::move(operation))) return false;
  committed_last_.push_back(last);
  return true;
}

void Transaction::Rollback() {
  for (auto it = operations_.rbegin(); it != operations_.rend(); ++it)
    (*it)->Rollback();
  DestroyOperations();
}

void Transaction::DestroyOperations() {
  // vector::clear destroys in an unspecified order; the commit order matters.
  const auto is_last = [this](const std::unique_ptr<TransactionOperation>& operation) {
    return std::find(committed_last_.begin(), committed_last_.end(), operation.get()) !=
           committed_last_.end();
  };
  for (bool last : {false, true}) {
    for (auto& operation : operations_) {
      if (operation && is_last(operation) == last) operation.reset();
    }
  }
  operations_.clear();
  committed_last_.clear();
}

}  // namespace installer
