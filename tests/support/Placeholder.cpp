// Keeps the support library non-empty until its fixtures land.
