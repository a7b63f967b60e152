// Shared helpers for the test suite live beside this file.
