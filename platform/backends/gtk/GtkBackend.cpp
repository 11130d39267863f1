// GTK backend lands here.
