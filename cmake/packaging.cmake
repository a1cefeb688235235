# Installation of the manual page and the Debian package.
