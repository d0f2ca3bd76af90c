/* unterminated
technique T { pass { } }