// One rollback-able change to the machine, run inside a Transaction.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_OPERATION_H_

namespace installer {

class Transaction;

// The destructor is the commit: it finishes whatever Do deferred until the change is
// final (for example deleting a file it only moved aside). It also runs after a
// rollback, so it must act only on what the operation's state still says.
class TransactionOperation {
 public:
  virtual ~TransactionOperation() = default;

  // Makes the change; true when it is complete. Preparatory operations (a missing
  // folder, a file set aside) go to |nested|, never to the parent transaction.
  [[nodiscard]] virtual bool Do(Transaction& nested) = 0;

  // Undoes what Do has actually done; called after a failed Do too.
  virtual void Rollback() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_OPERATION_H_
