// The builder hands SVG files over as their text.
declare module '*.svg' {
  const text: string;
  export default text;
}
