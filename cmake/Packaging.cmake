# install rules and .deb
