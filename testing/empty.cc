// Keeps the product library non-empty while folders are still being filled.
