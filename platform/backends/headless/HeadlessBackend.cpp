// Headless backend lands here.
