// Keeps the helper libraries non-empty before their first sources land.
