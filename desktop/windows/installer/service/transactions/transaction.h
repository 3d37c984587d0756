// A group of system changes that is either committed (destroyed) or rolled back whole.
//
//   Transaction transaction;
//   if (!transaction.Execute(std::make_unique<SomeOperation>(...)))
//     transaction.Rollback();   // undoes the operations accepted so far
//   // leaving scope commits what is still held
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_

#include <memory>
#include <vector>

#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class Transaction {
 public:
  Transaction();
  // Commits every accepted operation, oldest first.
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Runs |operation| with a fresh nested transaction for its preparations. True when it
  // was accepted; on failure it and its preparations are undone and destroyed.
  [[nodiscard]] bool Execute(std::unique_ptr<TransactionOperation> operation);
  // The same, but its commit comes after every other operation's: what tells a later run
  // that this one is to be finished (the program an uninstaller checks for, the record)
  // goes last.
  [[nodiscard]] bool ExecuteCommittedLast(std::unique_ptr<TransactionOperation> operation);

  // Commits every accepted operation now, oldest first (those committed last after the
  // others). The transaction is empty and reusable afterwards.
  void Commit() { DestroyOperations(); }

  // Undoes every accepted operation newest first, then destroys them oldest first.
  // The transaction is empty and reusable afterwards.
  void Rollback();

  bool empty() const { return operations_.empty(); }

 private:
  // Destroys the held operations oldest first and empties the list.
  void DestroyOperations();

  std::vector<std::unique_ptr<TransactionOperation>> operations_;
  // Of operations_, those committed after the others.
  std::vector<const TransactionOperation*> committed_last_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_
