#include "desktop/windows/installer/service/transactions/transaction.h"

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

void Transaction::Rollback() {
  for (auto it = operations_.rbegin(); it != operations_.rend(); ++it)
    (*it)->Rollback();
  DestroyOperations();
}

void Transaction::DestroyOperations() {
  // vector::clear destroys in an unspecified order; the commit order matters.
  for (auto& operation : operations_)
    operation.reset();
  operations_.clear();
}

}  // namespace installer
