// The running server executable: start-up, signals, status dump and stop.
