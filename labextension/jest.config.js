// The API client and the model in Node, compiled by ts-jest; nothing of
// Lab's is loaded (the model needs only lumino's signals).
module.exports = {
  testEnvironment: 'node',
  roots: ['<rootDir>/test'],
  transform: { '^.+\\.ts$': ['ts-jest', { tsconfig: 'test/tsconfig.json' }] }
};
